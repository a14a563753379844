// One open transport: the proxy choice and credentials of https_Start, and the requests made with them
// on libcurl. A Transport is immutable once built, so requests may run while another thread replaces
// or closes the process-wide one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/https/blocks.h"
#include "platform/https/proxy_choice.h"
#include "platform/https/request_checks.h"

namespace zolm::https {

// A text that is zeroed when it is destroyed (the proxy password). Not copyable.
class SecretText {
public:
    explicit SecretText(std::string_view text);
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText();
    const char *c_str() const noexcept { return text_.get(); }
    bool empty() const noexcept { return size_ == 0; }

private:
    std::unique_ptr<char[]> text_;
    size_t size_;
};

struct RequestResult {
    uint16_t status = 0;
    std::string headers;  // "Name: value" lines joined by CR LF
    BodyBuffer body;
};

// Bodies beyond this cannot be described by the 32-bit lengths of the interface.
inline constexpr uint64_t kMaxBodyLength = UINT32_MAX;

class Transport {
public:
    // Raises std::runtime_error when the transport cannot be opened (libcurl or libproxy failing).
    Transport(ProxyChoice proxy, std::string_view username, std::string_view password);

    // One request. Invalid arguments and transport failures raise std::runtime_error with the error
    // text; any HTTP answer, a proxy's refusal of the tunnel included, is a result.
    RequestResult Perform(const RequestArgs &args) const;

private:
    ProxyChoice proxy_;
    std::unique_ptr<SystemProxies> systemProxies_;  // kSystem only
    std::string username_;
    SecretText password_;
    std::string caFile_;  // SSL_CERT_FILE when set, else the system store
};

}  // namespace zolm::https
