#pragma once

#include <cstdint>
#include <variant>

#include "ArchiveStore.h"
#include "Authenticator.h"
#include "FormBody.h"
#include "Reply.h"
#include "RequestLog.h"

namespace tidewell::webfolder {

// The command page and the download page: both take a form with the user ID and password.
class GatewayCommands {
public:
    GatewayCommands(Authenticator& authenticator, const ArchiveStore& archives)
        : authenticator_(authenticator), archives_(archives) {}

    // cmd = userprofile, diskusage, companylist, companyinfo or deletecompany; address is the
    // client's, for slowing down password guessing.
    Reply Run(const FormFields& form, std::int64_t now, std::string_view address,
              RequestNote& note) const;

    // The company's newest archive, or a text reply saying why there is none.
    std::variant<Reply, OpenedArchive> Download(const FormFields& form, std::string_view address,
                                                RequestNote& note) const;

private:
    LoginResult Login(const FormFields& form, std::string_view address, RequestNote& note) const;
    Reply UserProfile(const Account& account, std::int64_t now) const;
    Reply DiskUsage(const Account& account) const;
    Reply CompanyList(const Account& account) const;
    Reply CompanyInfo(const Account& account, const FormFields& form) const;
    Reply DeleteCompany(const Account& account, const FormFields& form) const;

    Authenticator& authenticator_;
    const ArchiveStore& archives_;
};

}  // namespace tidewell::webfolder
