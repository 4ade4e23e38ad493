#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "TestSupport.h"
#include "gateway/MsMultiPartFormData.h"
#include "platform/CodePage.h"
#include "platform/Error.h"

namespace tidewell {
namespace {

// Everything from the current position, in awkward pieces so that reads straddle the parts.
std::string ReadAll(RequestBody& body, std::size_t piece = 7) {
    std::string all;
    std::string buffer(piece, '\0');
    while (const std::size_t n = body.Read(buffer.data(), piece)) all.append(buffer, 0, n);
    return all;
}

TEST(MsMultiPartFormData, BoundaryAndContentTypeAgree) {
    TMsMultiPartFormDataStream body;
    const std::string& b = body.Boundary;
    ASSERT_EQ(b.size(), 42u);
    EXPECT_EQ(b.find_first_not_of('-'), 27u) << b;
    EXPECT_EQ(b.find_first_not_of("0123456789", 27), std::string::npos) << b;
    EXPECT_EQ(body.ContentType, "multipart/form-data; boundary=" + body.Boundary);
    EXPECT_TRUE(body.FirstPart());
}

TEST(MsMultiPartFormData, FieldsAndFileGiveTheExactBytesAndTheFileIsReadAtSendTime) {
    test::TempDir dir;
    const std::string content = test::RandomBytes(100'000, 3);
    const std::string path = (dir / "20040102103000.bck").string();
    test::WriteFile(path, content);

    TMsMultiPartFormDataStream body;
    body.AddField("userid", "홍길동");
    EXPECT_FALSE(body.FirstPart());
    body.AddField("empty", "");
    body.AddField("raw", "100% \"as is\"\r\nnext");
    body.AddFilePart("file", path, "application/octet-stream");
    body.CloseBody();
    EXPECT_TRUE(body.FirstPart());

    const std::string b = body.Boundary;
    const std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"userid\"\r\n\r\n" +
        Utf8ToAnsi("홍길동") + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"empty\"\r\n\r\n" + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"raw\"\r\n\r\n100% \"as is\"\r\nnext" +
        "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + path +
        "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(body.Size(), expected.size());
    EXPECT_EQ(body.Position(), 0u);
    EXPECT_TRUE(ReadAll(body) == expected);

    // Sending again from the start (a redirection) gives the same bytes; so does a read of
    // a large piece from the middle.
    body.Seek(0);
    EXPECT_TRUE(ReadAll(body, 65536) == expected);
    body.Seek(150);
    EXPECT_TRUE(ReadAll(body, 1 << 20) == expected.substr(150));
}

TEST(MsMultiPartFormData, AFileFirstOrNoPartAtAllStartsWithALineBreak) {
    TMsMultiPartFormDataStream empty;
    empty.CloseBody();
    EXPECT_EQ(ReadAll(empty), "\r\n--" + empty.Boundary + "--\r\n");

    std::istringstream stream("abc");
    stream.get();  // a stream part is copied from its start wherever it stands
    TMsMultiPartFormDataStream body;
    body.AddStreamPart("file", "x.bin", "application/octet-stream", stream);
    EXPECT_FALSE(body.FirstPart());
    body.AddField("after", "1");  // must not run on from the file's last byte
    body.CloseBody();
    const std::string b = body.Boundary;
    EXPECT_EQ(ReadAll(body),
              "\r\n--" + b +
                  "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x.bin\"\r\n"
                  "Content-Type: application/octet-stream\r\n\r\nabc" +
                  "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"after\"\r\n\r\n1" +
                  "\r\n--" + b + "--\r\n");
}

TEST(MsMultiPartFormData, AFileThatChangesAfterItWasAddedFailsTheSend) {
    test::TempDir dir;
    const auto path = dir / "a.bck";
    for (const std::string& replacement : {std::string(10, 'x'), std::string(1000, 'x')}) {
        test::WriteFile(path, std::string(100, 'a'));
        TMsMultiPartFormDataStream body;
        body.AddFilePart("file", path.string(), "application/octet-stream");
        body.CloseBody();
        const std::uint64_t size = body.Size();
        test::WriteFile(path, replacement);  // same file, truncated and rewritten
        EXPECT_THROW(ReadAll(body), Exception) << replacement.size();
        EXPECT_EQ(body.Size(), size);
    }
    // The same size but new content is caught by the modification time.
    test::WriteFile(path, std::string(100, 'a'));
    TMsMultiPartFormDataStream body;
    body.AddFilePart("file", path.string(), "application/octet-stream");
    body.CloseBody();
    timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_THROW(ReadAll(body), Exception);
}

TEST(MsMultiPartFormData, AFileThatCannotBeOpenedAddsNothing) {
    test::TempDir dir;
    TMsMultiPartFormDataStream body;
    EXPECT_THROW(body.AddFilePart("file", (dir / "missing").string(), "x"), Exception);
    EXPECT_THROW(body.AddFilePart("file", dir.str(), "x"), Exception);  // a folder
    EXPECT_EQ(body.Size(), 0u);
}

}  // namespace
}  // namespace tidewell
