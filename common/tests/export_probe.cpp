// A plug-in with only the shared exports and a cp_Init whose vendor check needs the stored host table.
#include <cstring>

#include "common/provider_exports.h"

extern "C" char *ZOLM_STDCALL cp_Init(const HostTable *host, const char *directory) {
    return zolm::InitProvider(host, [&] {
        zolm::Host();  // raises unless the table was stored first
        if (directory != nullptr && std::strcmp(directory, "fail") == 0) throw formatted_exception("vendor check failed in %s", directory);
    });
}
