// The starter's one error type: an ordinary error carrying the message text shown to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace zolm::starter {

class StarterError : public std::runtime_error {
public:
    explicit StarterError(const std::string &message) : std::runtime_error(message) {}
};

}  // namespace zolm::starter
