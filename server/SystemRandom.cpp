#include "SystemRandom.h"

#include <errno.h>
#include <sys/random.h>

#include <vector>

#include "platform/Error.h"
#include "platform/Identity.h"

namespace tidewell::webfolder {

void FillRandom(void* data, std::size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t got = ::getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw Exception("no random bytes from the system");
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    FillRandom(random.data(), random.size());
    return HexText(random.data(), random.size());
}

}  // namespace tidewell::webfolder
