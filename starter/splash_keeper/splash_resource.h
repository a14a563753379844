// The starter's raw-data resource SPLASH_EXE: the bytes of the splash program built with it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zolm::starter {

inline constexpr char kSplashResourceName[] = "SPLASH_EXE";

// The resource of that name ("SPLASH_EXE"), or nothing for any other name. Fits the starter's
// resource lookup (WriteResourceToTempFile).
std::optional<std::span<const uint8_t>> SplashResource(std::string_view name);

}  // namespace zolm::starter
