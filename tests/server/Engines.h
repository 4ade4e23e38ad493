#pragma once

#include <optional>
#include <string>

#include "S3Client.h"

namespace tidewell::test {

// The throwaway PostgreSQL cluster and object store that script/engines started for the tests,
// as its variables name them (script/test starts them; `script/engines run CMD` does too).
struct Engines {
    std::string pgUri;       // postgresql://USER@HOST:PORT/DATABASE, a superuser
    std::string pgPassFile;  // libpq's password file for it
    webfolder::S3Config s3;
    std::string bucket;

    // Read once from the environment; when both engines are there, the variables the service's
    // programs read (PGPASSFILE, TIDEWELL_S3_*) are set for this process and its children.
    static const Engines& Get();
    // Why the distributed back end cannot be tested here; nullopt when both engines are up.
    std::optional<std::string> Missing() const { return missing_; }

private:
    std::optional<std::string> missing_;
};

// Skips the test, saying why, unless both engines are there.
#define TIDEWELL_REQUIRE_ENGINES()                                           \
    do {                                                                     \
        if (const auto missing = ::tidewell::test::Engines::Get().Missing()) \
            GTEST_SKIP() << *missing;                                        \
    } while (false)

}  // namespace tidewell::test
