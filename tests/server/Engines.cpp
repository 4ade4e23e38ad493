#include "Engines.h"

#include <cstdlib>

namespace tidewell::test {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Engines Read() {
    Engines engines;
    engines.pgUri = Variable("TIDEWELL_TEST_PG_URI");
    engines.pgPassFile = Variable("TIDEWELL_TEST_PG_PASSFILE");
    engines.s3.endpoint = Variable("TIDEWELL_TEST_S3_ENDPOINT");
    engines.s3.region = Variable("TIDEWELL_TEST_S3_REGION");
    engines.s3.accessKey = Variable("TIDEWELL_TEST_S3_ACCESS_KEY");
    engines.s3.secretKey = Variable("TIDEWELL_TEST_S3_SECRET_KEY");
    engines.bucket = Variable("TIDEWELL_TEST_S3_BUCKET");
    return engines;
}

}  // namespace

const Engines& Engines::Get() {
    static const Engines engines = [] {
        Engines read = Read();
        std::string missing;
        if (read.pgUri.empty()) {
            const std::string skip = Variable("TIDEWELL_TEST_PG_SKIP");
            missing = skip.empty() ? "PostgreSQL was not started" : skip;
        }
        if (read.s3.endpoint.empty() || read.bucket.empty()) {
            const std::string skip = Variable("TIDEWELL_TEST_S3_SKIP");
            if (!missing.empty()) missing += "; ";
            missing += skip.empty() ? "the object store was not started" : skip;
        }
        if (missing.empty()) {
            // What the service's programs read, for this process and every one it starts.
            ::setenv("PGPASSFILE", read.pgPassFile.c_str(), 1);
            ::setenv("TIDEWELL_S3_ENDPOINT", read.s3.endpoint.c_str(), 1);
            ::setenv("TIDEWELL_S3_REGION", read.s3.region.c_str(), 1);
            ::setenv("TIDEWELL_S3_ACCESS_KEY", read.s3.accessKey.c_str(), 1);
            ::setenv("TIDEWELL_S3_SECRET_KEY", read.s3.secretKey.c_str(), 1);
        }
        if (!missing.empty()) {
            if (Variable("TIDEWELL_TEST_PG_SKIP").empty() &&
                Variable("TIDEWELL_TEST_S3_SKIP").empty()) {
                missing += " (run the tests through script/test or `script/engines run`)";
            }
            read.missing_ = missing;
        }
        return read;
    }();
    return engines;
}

}  // namespace tidewell::test
