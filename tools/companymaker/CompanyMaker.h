#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tidewell {

// What a made company folder holds. The database is what the host product keeps for one
// business site: the company's name in userinfo, a one-row ver table and an inventory table.
struct CompanyRecipe {
    std::string name = "테스트 사업장";
    std::int64_t rows = 100;          // inventory rows
    std::int64_t minimumBytes = 0;    // keep adding rows until the file is at least this big
    bool withKey = false;             // give ver a dbkey column
    std::string key;                  // its value; empty with withKey makes a fresh key
    bool verRow = true;               // false leaves ver without a row
    std::uint32_t seed = 1;           // the same seed makes the same rows
};

// Makes folder (and its parents) and folder/default.mdb as described. An existing
// default.mdb is refused, never replaced. Returns the key stored, or empty text.
std::string MakeCompanyFolder(const std::string& folder, const CompanyRecipe& recipe);

}  // namespace tidewell
