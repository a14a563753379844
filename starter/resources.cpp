// The starter's embedded resources by name: BSPATCH_EXE is Debian's bspatch, signed by the build's
// signer (resources.S). SPLASH_EXE joins the table when the splash program is built into the starter.
#include <cstdint>

#include "starter/temp_file.h"

extern "C" const uint8_t zolm_resource_bspatch_begin[];
extern "C" const uint8_t zolm_resource_bspatch_end[];

namespace zolm::starter {

std::optional<std::span<const uint8_t>> EmbeddedResource(std::string_view name) {
    if (name == "BSPATCH_EXE")
        return std::span<const uint8_t>(zolm_resource_bspatch_begin,
                                        static_cast<size_t>(zolm_resource_bspatch_end - zolm_resource_bspatch_begin));
    return std::nullopt;
}

}  // namespace zolm::starter
