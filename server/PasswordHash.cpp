#include "PasswordHash.h"

#include <nettle/memops.h>
#include <nettle/pbkdf2.h>

#include <charconv>
#include <optional>
#include <vector>

#include "SystemRandom.h"
#include "platform/Error.h"
#include "platform/Identity.h"

namespace tidewell::webfolder {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr int kMaxIterations = 10000000;

std::string Hex(const std::vector<unsigned char>& bytes) {
    return HexText(bytes.data(), bytes.size());
}

bool Unhex(std::string_view text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2) return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  int iterations, std::size_t length) {
    std::vector<unsigned char> out(length);
    pbkdf2_hmac_sha256(password.size(), reinterpret_cast<const std::uint8_t*>(password.data()),
                       static_cast<unsigned>(iterations), salt.size(), salt.data(), out.size(),
                       out.data());
    return out;
}

}  // namespace

std::string HashPassword(std::string_view password, int iterations) {
    std::vector<unsigned char> salt(kSaltBytes);
    FillRandom(salt.data(), salt.size());
    const auto hash = Derive(password, salt, iterations, kHashBytes);
    return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + Hex(salt) + "$" +
           Hex(hash);
}

namespace {

struct Record {
    int iterations = 0;
    std::vector<unsigned char> salt, hash;
};

std::optional<Record> ParseRecord(std::string_view record) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto dollar = record.find('$');
        parts.push_back(record.substr(0, dollar));
        if (dollar == std::string_view::npos) break;
        record.remove_prefix(dollar + 1);
    }
    if (parts.size() != 4 || parts[0] != kScheme) return std::nullopt;
    Record parsed;
    const auto [end, error] =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), parsed.iterations);
    if (error != std::errc() || end != parts[1].data() + parts[1].size() || parsed.iterations < 1 ||
        parsed.iterations > kMaxIterations) {
        return std::nullopt;
    }
    if (!Unhex(parts[2], parsed.salt) || !Unhex(parts[3], parsed.hash)) return std::nullopt;
    return parsed;
}

}  // namespace

bool VerifyPassword(std::string_view password, std::string_view record) {
    const auto parsed = ParseRecord(record);
    if (!parsed) return false;
    const auto actual = Derive(password, parsed->salt, parsed->iterations, parsed->hash.size());
    return nettle_memeql_sec(actual.data(), parsed->hash.data(), parsed->hash.size()) != 0;
}

bool PasswordNeedsUpgrade(std::string_view record, int iterations) {
    const auto parsed = ParseRecord(record);
    return !parsed || parsed->iterations < iterations;
}

int RecordIterations(std::string_view record) {
    const auto parsed = ParseRecord(record);
    return parsed ? parsed->iterations : 0;
}

void SpendPasswordCheck(std::string_view password, int iterations) {
    const std::vector<unsigned char> salt(kSaltBytes, 0);
    Derive(password, salt, iterations, kHashBytes);
}

}  // namespace tidewell::webfolder
