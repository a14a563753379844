// The OpenSSL handles of the software CSP: the project's one set of owning pointers.
#pragma once

#include "platform/openssl_handles.h"

namespace softcsp {
using namespace zolm::ossl;
}  // namespace softcsp
