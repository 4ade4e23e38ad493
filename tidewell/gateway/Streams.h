#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tidewell {

// What the HTTP client sends: the bytes from the current position to the end. The client may
// seek back to where it started when a redirection asks for the same request again.
class RequestBody {
public:
    virtual ~RequestBody() = default;
    virtual std::uint64_t Size() const = 0;
    virtual std::uint64_t Position() const = 0;
    virtual void Seek(std::uint64_t position) = 0;
    // Fills up to count bytes; returns fewer only at the end. Raises Exception when the bytes
    // can't be produced, so a request never goes out shorter than its Content-Length.
    virtual std::size_t Read(char* buffer, std::size_t count) = 0;
};

// Where the HTTP client puts the reply body as it arrives.
class ReplySink {
public:
    virtual ~ReplySink() = default;
    virtual void Write(const char* data, std::size_t count) = 0;
};

// A request body held in memory: form requests are a few hundred bytes.
class MemoryBody : public RequestBody {
public:
    explicit MemoryBody(std::string bytes = {}) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void Seek(std::uint64_t position) override;
    std::size_t Read(char* buffer, std::size_t count) override;
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

// A reply kept in memory. The limit keeps a runaway reply from eating the machine's memory:
// past it, Write raises Exception.
class MemorySink : public ReplySink {
public:
    explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
    void Write(const char* data, std::size_t count) override;
    const std::string& Bytes() const { return bytes_; }

private:
    std::size_t limit_;
    std::string bytes_;
};

}  // namespace tidewell
