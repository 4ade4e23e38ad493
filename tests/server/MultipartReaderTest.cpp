#include <gtest/gtest.h>

#include "MultipartReader.h"
#include "TestSupport.h"

namespace tidewell::webfolder {
namespace {

constexpr char kBoundary[] = "b0und";

// Records the parts; asks the reader to stop after every part's start and every `stopEvery`
// bytes of data, as the upload does when work is due.
class Recorder : public MultipartSink {
public:
    explicit Recorder(std::size_t stopEvery) : stopEvery_(stopEvery) {}
    bool PartBegins(std::string_view name, std::string_view filename) override {
        parts.push_back({std::string(name), std::string(filename), ""});
        return true;
    }
    bool PartData(const char* data, std::size_t size) override {
        if (parts.empty()) parts.push_back({"(none)", "", ""});
        parts.back().data.append(data, size);
        sinceStop_ += size;
        if (sinceStop_ < stopEvery_) return false;
        sinceStop_ = 0;
        return true;
    }
    struct Part {
        std::string name, filename, data;
        bool operator==(const Part&) const = default;
    };
    std::vector<Part> parts;

private:
    std::size_t stopEvery_;
    std::size_t sinceStop_ = 0;
};

// Feeds the body in pieces of `piece` bytes, offering what a stop left again as the daemon does.
Recorder Read(const std::string& body, std::size_t piece, bool& complete, bool& malformed) {
    Recorder sink(997);
    MultipartReader reader(kBoundary);
    for (std::size_t at = 0; at < body.size() && !reader.Malformed();) {
        const std::size_t size = std::min(piece, body.size() - at);
        const std::size_t taken = reader.Feed(body.data() + at, size, sink);
        if (taken == 0 && !reader.Malformed()) {
            ADD_FAILURE() << "no progress at " << at << " with pieces of " << piece;
            break;
        }
        at += taken;
    }
    complete = reader.Complete();
    malformed = reader.Malformed();
    return sink;
}

std::string Part(const std::string& headers, const std::string& data) {
    return std::string("--") + kBoundary + "\r\n" + headers + "\r\n\r\n" + data + "\r\n";
}

TEST(MultipartReader, EndsPartsOnlyAtRealDelimitersWhateverThePieces) {
    const std::string b = std::string("--") + kBoundary;
    const std::string tricky = b + "\r\n" + "\n" + b + "\r\n\r\n" + b + "x\r\n\r\n" + b +
                               " tail\r\n" + b + "-x" + "\r" + b + "--\r\n" +
                               test::RandomBytes(3000, 9) + "\r\n" + b.substr(0, 4) + "\r\n\r";
    const std::string body =
        "preamble\r\n" + Part("Content-Disposition: form-data; name=\"userid\"", "demo") +
        Part(
            "content-disposition:form-data;name=\"file\"; filename=\"C:\\Temp\\a.bck\"\r\n"
            "Content-Type: application/octet-stream",
            tricky) +
        Part("Content-Disposition: form-data; name=empty", "") + b + "  \r\n\r\nno headers\r\n" +
        b + "--\r\nepilogue " + b + "\r\n";
    const std::vector<Recorder::Part> expected{{"userid", "", "demo"},
                                               {"file", "C:\\Temp\\a.bck", tricky},
                                               {"empty", "", ""},
                                               {"", "", "no headers"}};
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                              std::size_t{13}, std::size_t{64}, std::size_t{1000}, body.size()}) {
        bool complete = false, malformed = false;
        const Recorder sink = Read(body, piece, complete, malformed);
        EXPECT_TRUE(complete) << piece;
        EXPECT_FALSE(malformed) << piece;
        EXPECT_TRUE(sink.parts == expected) << "pieces of " << piece;
    }
}

TEST(MultipartReader, CutBodiesAndHugeHeadersAreNotComplete) {
    const std::string whole =
        Part("Content-Disposition: form-data; name=\"a\"", "value") + "--" + kBoundary + "--\r\n";
    const std::string cases[] = {
        whole.substr(0, whole.size() - 4),  // the last delimiter without its dashes
        whole.substr(0, whole.size() - 20),
        "no multipart at all",
        Part("Content-Disposition: form-data; name=\"" + std::string(20000, 'n') + "\"", "v"),
    };
    for (const std::string& body : cases) {
        for (std::size_t piece : {std::size_t{5}, std::size_t{4096}, body.size()}) {
            bool complete = true, malformed = false;
            Read(body, piece, complete, malformed);
            EXPECT_FALSE(complete) << body.substr(0, 40) << " / " << piece;
        }
    }
    EXPECT_EQ(MultipartReader::BoundaryOf("multipart/form-data; boundary=\"a b\""), "a b");
    EXPECT_EQ(MultipartReader::BoundaryOf("multipart/form-data; charset=x; boundary=zz"), "zz");
    EXPECT_FALSE(MultipartReader::BoundaryOf("multipart/form-data"));
    EXPECT_FALSE(
        MultipartReader::BoundaryOf("multipart/form-data; boundary=" + std::string(71, 'x')));
}

}  // namespace
}  // namespace tidewell::webfolder
