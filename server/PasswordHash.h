#pragma once

#include <string>
#include <string_view>

namespace tidewell::webfolder {

// Makes a stolen database costly to guess from. A check costs a tenth of a second or more,
// so the service caches verified credentials for a while rather than check every request.
inline constexpr int kPasswordIterations = 600000;
// The least a record may be made with (tests use it to stay quick).
inline constexpr int kMinPasswordIterations = 1000;

// A stored record "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" with a fresh random salt.
std::string HashPassword(std::string_view password, int iterations = kPasswordIterations);

// False for a wrong password and for a record this program does not understand.
bool VerifyPassword(std::string_view password, std::string_view record);

// True when the record was made with fewer iterations than wanted, or is not understood.
bool PasswordNeedsUpgrade(std::string_view record, int iterations = kPasswordIterations);

// The iterations a record was made with; 0 for a record this program does not understand.
int RecordIterations(std::string_view record);

// Spends the time of one check, so an unknown user ID answers as slowly as a wrong password.
void SpendPasswordCheck(std::string_view password, int iterations = kPasswordIterations);

}  // namespace tidewell::webfolder
