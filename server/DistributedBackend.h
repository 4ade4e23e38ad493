#pragma once

#include "Backend.h"
#include "PgConnection.h"
#include "PgIndex.h"
#include "S3Bytes.h"
#include "S3Client.h"

namespace tidewell::webfolder {

// The index in PostgreSQL and the archives under a prefix of an S3 bucket. Nothing of it lives
// on the instance's disk but uploads while they arrive, so any number of instances can serve
// the same accounts; nothing is claimed, and a start neither walks the store nor clears it.
class DistributedBackend : public Backend {
public:
    // Connects, brings the schema up to date and checks the prefix's mark; raises Exception.
    DistributedBackend(const StoreLocation& location, const BackendTuning& tuning);

    ArchiveIndex& Index() override { return index_; }
    ArchiveBytes& Bytes() override { return bytes_; }
    std::unique_ptr<LoginThrottle> MakeThrottle() override;
    void PrepareToServe(const std::function<void(const std::string&)>&) override {}
    std::string Sweep() override;

    PgIndex& Pg() { return index_; }
    PgPool& Pool() { return pool_; }
    S3Bytes& Objects() { return bytes_; }

private:
    void CheckMark();

    StoreLocation location_;
    BackendTuning tuning_;
    S3Place place_;
    PgPool pool_;
    PgIndex index_;
    S3Client client_;
    // After the index and the client: its transfers use both until it is gone.
    S3Bytes bytes_;
};

}  // namespace tidewell::webfolder
