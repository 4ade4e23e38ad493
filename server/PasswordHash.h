#pragma once

#include <string>
#include <string_view>

namespace tidewell::webfolder {

// Every request carries the password, so each one pays for a check: this count keeps that
// near 30 ms on a small machine while making a stolen database costly to guess from.
inline constexpr int kPasswordIterations = 100000;

// A stored record "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" with a fresh random salt.
std::string HashPassword(std::string_view password, int iterations = kPasswordIterations);

// False for a wrong password and for a record this program does not understand.
bool VerifyPassword(std::string_view password, std::string_view record);

// Spends the time of one check, so an unknown user ID answers as slowly as a wrong password.
void SpendPasswordCheck(std::string_view password);

}  // namespace tidewell::webfolder
