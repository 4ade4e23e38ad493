#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "ArchiveStore.h"
#include "Authenticator.h"
#include "FormBody.h"
#include "Reply.h"
#include "RequestLog.h"

namespace tidewell::webfolder {

// The command page and the download page: both take a form with the user ID and password.
// The login runs first (Authenticator); these answer for the account it gave.
class GatewayCommands {
public:
    explicit GatewayCommands(const ArchiveStore& archives) : archives_(archives) {}

    // The form's user ID and password, with the client's address for the throttle.
    static Credentials CredentialsOf(const FormFields& form, std::string_view address);

    // A refusal for a cmd that is none of userprofile, diskusage, companylist, companyinfo or
    // deletecompany (answered without a login); nullopt when it is one of them.
    std::optional<Reply> CheckCommand(const FormFields& form, RequestNote& note) const;
    Reply Run(const Account& account, const FormFields& form, std::int64_t now) const;

    // The company's newest archive, or a text reply saying why there is none.
    std::variant<Reply, OpenedArchive> Download(const Account& account, const FormFields& form,
                                                RequestNote& note) const;

private:
    Reply UserProfile(const Account& account, std::int64_t now) const;
    Reply DiskUsage(const Account& account) const;
    Reply CompanyList(const Account& account) const;
    Reply CompanyInfo(const Account& account, const FormFields& form) const;
    Reply DeleteCompany(const Account& account, const FormFields& form) const;

    const ArchiveStore& archives_;
};

}  // namespace tidewell::webfolder
