#include "common/host.h"

#include "common/formatted_exception.h"

namespace zolm {
namespace {
const HostTable *g_host = nullptr;
}

void SetHost(const HostTable *host) noexcept { g_host = host; }

const HostTable &Host() {
    if (g_host == nullptr) throw formatted_exception("the host table is not set: cp_Init was not called with one");
    return *g_host;
}

}  // namespace zolm
