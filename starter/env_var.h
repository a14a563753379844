// EnvVarU: environment variables.
#pragma once

#include <string>

namespace zolm::starter {

// The variable's value; empty when it is unset or empty.
std::string GetEnvVar(const std::string &name);

}  // namespace zolm::starter
