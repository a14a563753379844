// Access to the splash program embedded by splash_resource.S.
#include "starter/splash_keeper/splash_resource.h"

extern "C" const uint8_t zolm_splash_exe_begin[];
extern "C" const uint8_t zolm_splash_exe_end[];

namespace zolm::starter {

std::optional<std::span<const uint8_t>> SplashResource(std::string_view name) {
    if (name != kSplashResourceName) return std::nullopt;
    return std::span<const uint8_t>(zolm_splash_exe_begin, zolm_splash_exe_end);
}

}  // namespace zolm::starter
