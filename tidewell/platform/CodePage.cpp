#include "platform/CodePage.h"

#include <errno.h>
#include <iconv.h>

#include "platform/Error.h"

namespace tidewell {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw Exception(std::string("code page conversion ") + from + " to " + to +
                            " is not available");
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() { iconv_close(cd_); }

    // Converts input; skipUnit tells how many input bytes to drop for one unconvertible character.
    template <typename SkipUnit>
    std::string Run(std::string_view input, SkipUnit skipUnit) {
        std::string out;
        out.reserve(input.size() * 3 / 2 + 8);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: one character that can't be carried over.
            out += '?';
            const size_t skip = std::min(inLeft, skipUnit(std::string_view(in, inLeft)));
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

// The lead byte and the continuation bytes that belong to it, so one broken character
// costs one "?" and the text after it survives.
size_t Utf8SequenceLength(std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    size_t expected = 1;
    if ((lead & 0xE0) == 0xC0) expected = 2;
    else if ((lead & 0xF0) == 0xE0) expected = 3;
    else if ((lead & 0xF8) == 0xF0) expected = 4;
    size_t n = 1;
    while (n < expected && n < rest.size() && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80) ++n;
    return n;
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
    Converter converter("CP949", "UTF-8");
    return converter.Run(utf8, Utf8SequenceLength);
}

std::string AnsiToUtf8(std::string_view ansi) {
    Converter converter("UTF-8", "CP949");
    return converter.Run(ansi, [](std::string_view) { return size_t{1}; });
}

}  // namespace tidewell
