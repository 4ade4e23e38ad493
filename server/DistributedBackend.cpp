#include "Backend.h"
#include "platform/Error.h"

namespace tidewell::webfolder {

std::unique_ptr<Backend> OpenDistributedBackend(const StoreLocation&, const BackendTuning&) {
    throw Exception("not yet");
}

}  // namespace tidewell::webfolder
