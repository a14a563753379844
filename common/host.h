// The plug-in's process-wide host table: stored by cp_Init before anything else, never cleared.
#pragma once

#include "zolm/provider.h"

namespace zolm {

void SetHost(const HostTable *host) noexcept;
// The stored table; raises formatted_exception when cp_Init has not stored one.
const HostTable &Host();

}  // namespace zolm
