// The OpenSSL handles of the code signature: the project's one set of owning pointers.
#pragma once

#include "platform/openssl_handles.h"

namespace zolm::platform::codesign {
using namespace zolm::ossl;
}  // namespace zolm::platform::codesign
