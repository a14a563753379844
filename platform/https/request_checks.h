// The arguments of https_Request as the library checks them before anything goes on the wire:
// every refusal names what was wrong, and nothing the caller gives can add a header or change the URL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/https/curl_handles.h"

namespace zolm::https {

struct RequestArgs {
    std::string_view host;
    int32_t port = 0;
    int32_t secure = 0;
    std::string_view method;
    std::string_view path;
    std::string_view headers;
    const void *body = nullptr;
    uint32_t bodyLength = 0;
    uint32_t timeoutMs = 0;
};

struct CheckedRequest {
    std::string url;  // scheme://host:port/path, an IPv6 address in brackets
    bool post = false;
};

// Raises std::runtime_error with the text of the first argument found wrong.
CheckedRequest CheckRequest(const RequestArgs &args);

// Appends the caller's header lines (separated by CR LF or a lone LF; empty lines skipped) to list.
// Raises std::runtime_error for a line that is not "Name: value". Returns whether one sets Content-Type.
bool AppendCallerHeaders(std::string_view text, CurlHeaderList &list);

}  // namespace zolm::https
