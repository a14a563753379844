// Environment variables.
#include "starter/env_var.h"

#include <cstdlib>

namespace zolm::starter {

std::string GetEnvVar(const std::string &name) {
    const char *value = std::getenv(name.c_str());
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace zolm::starter
