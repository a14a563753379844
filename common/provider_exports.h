// The parts of the provider exports that are the same in every plug-in. cp_Done, cp_StoreCertificate
// and cp_ReleaseMemory themselves come from the zolm_provider_exports object library; cp_Init's
// first step is InitProvider.
#pragma once

#include <utility>

#include "common/formatted_exception.h"
#include "common/host.h"
#include "common/result.h"
#include "zolm/provider.h"

namespace zolm {

inline constexpr char kNoHostTableText[] = "cp_Init was called without a host table";

// cp_Init: keeps the host table before anything else (a null one too, so no earlier table stays in
// use), reports a null table as an error text, and only then runs `checkVendor`.
template <typename Work>
char *InitProvider(const HostTable *host, Work &&checkVendor) noexcept {
    SetHost(host);
    return ResultOf([&] {
        if (host == nullptr) throw formatted_exception("%s", kNoHostTableText);
        std::forward<Work>(checkVendor)();
    });
}

}  // namespace zolm
