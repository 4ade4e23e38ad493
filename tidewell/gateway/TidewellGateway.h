#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "company/LocalCompanyList.h"
#include "gateway/AnswerList.h"
#include "gateway/HttpClient.h"
#include "gateway/ServiceEndpoint.h"
// The account, its companies and their transfers belong to this unit as well.
#include "gateway/TidewellUser.h"
#include "platform/FileKit.h"

namespace tidewell {

// A value of a form body: trimmed, in CP949, and every byte except ASCII letters and digits
// written as "%" and two upper-case hex digits (a space is "%20", never "+").
std::string EncodeFormValue(const std::string& text);

// The one place that talks to the web-folder service. Each operation sends one request and
// fills Answer with the reply; it returns whether STATUS is "0". Transport errors raise
// HttpError. Callers make a fresh gateway for every request.
class TTidewellGateway {
public:
    using TTransferDataEvent =
        std::function<void(tidewell::HttpClient* Sender, const char* Buffer, std::size_t Len)>;

    explicit TTidewellGateway(const ServiceEndpoint& service);
    // A service reached with the system's certificate authorities.
    explicit TTidewellGateway(const std::string& serviceURL);
    ~TTidewellGateway();
    TTidewellGateway(const TTidewellGateway&) = delete;
    TTidewellGateway& operator=(const TTidewellGateway&) = delete;

    // Points the three page URLs at another service ("http://host[:port]").
    void SetServiceURL(const std::string& serviceURL);

    std::string GatewayURL;
    std::string UploadURL;
    std::string DownloadURL;
    // Where DownloadFile saves an archive (made for this user only when missing); it must be set
    // before an archive can arrive.
    std::string DownloadFolder;
    const std::unique_ptr<tidewell::HttpClient> HttpClient;
    // Every block of body data sent by UploadFile or received by DownloadFile.
    TTransferDataEvent OnTransferData;
    // The name of the archive DownloadFile receives, as soon as the reply announces it (empty
    // when the reply is text), before its body.
    std::function<void(const std::string& FileName)> OnArchiveName;

    bool GetUserProfile(const std::string& UserID, const std::string& Password,
                        TAnswerList& Answer);
    bool GetDiskUsage(const std::string& UserID, const std::string& Password, TAnswerList& Answer);
    bool GetCompanyList(const std::string& UserID, const std::string& Password,
                        TAnswerList& Answer);
    bool GetCompanyInfo(const std::string& UserID, const std::string& Password,
                        const std::string& CompanyKey, TAnswerList& Answer);
    bool DeleteCompany(const std::string& UserID, const std::string& Password,
                       const std::string& CompanyKey, TAnswerList& Answer);
    // Sends the file at FileName. The part header names it as passed, with "\\" between its
    // parts: the service, like every reader of the format, takes the text after the last "\\".
    bool UploadFile(const std::string& UserID, const std::string& Password,
                    const std::string& CompanyKey, const std::string& CompanyName,
                    const std::string& FileName, TAnswerList& Answer);
    // An archive in the reply is saved in DownloadFolder and Answer becomes STATUS=0,
    // MESSAGE=, FILENAME=<name>, FILEPATH=<folder>; any other reply is read as text.
    bool DownloadFile(const std::string& UserID, const std::string& Password,
                      const std::string& CompanyKey, TAnswerList& Answer);

private:
    enum class Relay { None, Sent, Received };

    bool Command(const char* command, const std::string& userID, const std::string& password,
                 const std::string* companyKey, TAnswerList& answer);
    bool PostForm(const std::string& url, const std::string& body, TAnswerList& answer);
    void Send(const std::string& url, const std::string& contentType, RequestBody& body,
              ReplySink& reply, Relay relay);
};

}  // namespace tidewell
