// OpenSSL handles (the project's one set of owning pointers) and the GOST engine set-up.
#pragma once

#include <openssl/err.h>

#include "platform/openssl_handles.h"

namespace mespro {

using namespace zolm::ossl;

// Loads the GOST engine once per process and makes it the default for its algorithms.
// False when the engine is not installed.
bool GostEngineReady();

}  // namespace mespro
