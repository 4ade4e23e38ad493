#include "gateway/TidewellGateway.h"

#include <algorithm>

#include "gateway/DownloadReply.h"
#include "gateway/MsMultiPartFormData.h"
#include "platform/CodePage.h"

namespace tidewell {
namespace {

constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
constexpr std::chrono::milliseconds kCommandStallTimeout{30'000};
// Replies are a few KEY=value lines; anything far longer is not the service talking.
constexpr std::size_t kTextReplyLimit = 16 << 20;

bool IsAsciiAlphanumeric(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string EncodeFormValue(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : Utf8ToAnsi(TrimBlanks(text))) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsAsciiAlphanumeric(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

TTidewellGateway::TTidewellGateway(const ServiceEndpoint& service)
    : HttpClient(std::make_unique<tidewell::HttpClient>()) {
    SetServiceURL(service.URL);
    HttpClient->CAFile = service.CAFile;
}

TTidewellGateway::TTidewellGateway(const std::string& serviceURL)
    : TTidewellGateway(ServiceEndpoint{serviceURL, {}}) {}

TTidewellGateway::~TTidewellGateway() = default;

void TTidewellGateway::SetServiceURL(const std::string& serviceURL) {
    std::string base = serviceURL;
    while (!base.empty() && base.back() == '/') base.pop_back();
    GatewayURL = base + "/tidewellweb/gateway.asp";
    UploadURL = base + "/tidewellweb/gwupload.asp";
    DownloadURL = base + "/tidewellweb/gwdownload.asp";
}

void TTidewellGateway::Send(const std::string& url, const std::string& contentType,
                            RequestBody& body, ReplySink& reply, Relay relay) {
    tidewell::HttpClient& client = *HttpClient;
    // Whatever happens, the connection closes and nothing keeps pointing at this request.
    struct Cleanup {
        tidewell::HttpClient& client;
        ~Cleanup() {
            client.Close();
            client.SendStream = nullptr;
            client.RcvdStream = nullptr;
            client.OnDataSent = nullptr;
            client.OnDataReceived = nullptr;
        }
    } cleanup{client};
    const auto forward = [this](tidewell::HttpClient* sender, const char* buffer, std::size_t len) {
        if (OnTransferData) OnTransferData(sender, buffer, len);
    };
    client.URL = url;
    client.ContentType = contentType;
    client.SendStream = &body;
    client.RcvdStream = &reply;
    if (relay == Relay::Sent) client.OnDataSent = forward;
    if (relay == Relay::Received) client.OnDataReceived = forward;
    client.Post();
}

bool TTidewellGateway::PostForm(const std::string& url, const std::string& body,
                                TAnswerList& answer) {
    answer.Clear();
    // A command's reply is a few lines: a service silent for long will not answer at all.
    HttpClient->StallTimeout = std::min(HttpClient->StallTimeout, kCommandStallTimeout);
    MemoryBody request(body);
    MemorySink reply(kTextReplyLimit);
    Send(url, kFormContentType, request, reply, Relay::None);
    answer.SetText(reply.Bytes());
    return answer.Succeeded();
}

bool TTidewellGateway::Command(const char* command, const std::string& userID,
                               const std::string& password, const std::string* companyKey,
                               TAnswerList& answer) {
    std::string body = std::string("cmd=") + command + "&userid=" + EncodeFormValue(userID) +
                       "&password=" + EncodeFormValue(password);
    if (companyKey) body += "&companykey=" + EncodeFormValue(*companyKey);
    return PostForm(GatewayURL, body, answer);
}

bool TTidewellGateway::GetUserProfile(const std::string& UserID, const std::string& Password,
                                      TAnswerList& Answer) {
    return Command("userprofile", UserID, Password, nullptr, Answer);
}

bool TTidewellGateway::GetDiskUsage(const std::string& UserID, const std::string& Password,
                                    TAnswerList& Answer) {
    return Command("diskusage", UserID, Password, nullptr, Answer);
}

bool TTidewellGateway::GetCompanyList(const std::string& UserID, const std::string& Password,
                                      TAnswerList& Answer) {
    return Command("companylist", UserID, Password, nullptr, Answer);
}

bool TTidewellGateway::GetCompanyInfo(const std::string& UserID, const std::string& Password,
                                      const std::string& CompanyKey, TAnswerList& Answer) {
    return Command("companyinfo", UserID, Password, &CompanyKey, Answer);
}

bool TTidewellGateway::DeleteCompany(const std::string& UserID, const std::string& Password,
                                     const std::string& CompanyKey, TAnswerList& Answer) {
    return Command("deletecompany", UserID, Password, &CompanyKey, Answer);
}

bool TTidewellGateway::UploadFile(const std::string& UserID, const std::string& Password,
                                  const std::string& CompanyKey, const std::string& CompanyName,
                                  const std::string& FileName, TAnswerList& Answer) {
    Answer.Clear();
    TMsMultiPartFormDataStream body;
    body.AddField("userid", TrimBlanks(UserID));
    body.AddField("password", TrimBlanks(Password));
    body.AddField("companykey", CompanyKey);
    body.AddField("companyname", CompanyName);
    std::string headerName = FileName;
    std::replace(headerName.begin(), headerName.end(), '/', '\\');
    body.AddFilePart("file", FileName, "application/octet-stream", headerName);
    body.CloseBody();
    MemorySink reply(kTextReplyLimit);
    Send(UploadURL, body.ContentType, body, reply, Relay::Sent);
    Answer.SetText(reply.Bytes());
    return Answer.Succeeded();
}

bool TTidewellGateway::DownloadFile(const std::string& UserID, const std::string& Password,
                                    const std::string& CompanyKey, TAnswerList& Answer) {
    Answer.Clear();
    MemoryBody request("userid=" + EncodeFormValue(UserID) + "&password=" +
                       EncodeFormValue(Password) + "&companykey=" + EncodeFormValue(CompanyKey));
    DownloadReply reply(*HttpClient, kTextReplyLimit, DownloadFolder);
    reply.OnDecided = OnArchiveName;
    Send(DownloadURL, kFormContentType, request, reply, Relay::Received);
    if (!reply.Finish()) {
        Answer.SetText(reply.Text());
        return Answer.Succeeded();
    }
    Answer.Add("STATUS=0");
    Answer.Add("MESSAGE=");
    Answer.Add("FILENAME=" + reply.FileName());
    Answer.Add("FILEPATH=" + reply.Folder());
    return true;
}

}  // namespace tidewell
