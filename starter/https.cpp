// The starter's side of libhttps.so: URL splitting, error texts taken over, blocks given back.
#include "starter/https.h"

#include <limits>

#include "starter/split_by.h"
#include "starter/starter_error.h"
#include "zolm/https.h"

namespace zolm::starter {
namespace {

// Takes over a text the library handed out.
std::string TakeText(char *text) {
    std::string copy = text != nullptr ? text : "";
    https_Release(text);
    return copy;
}

// A failed call: its error text, or a text naming the call when the library gave none.
[[noreturn]] void RaiseTransportError(const char *call, char *error) {
    std::string text = TakeText(error);
    if (text.empty()) text = std::string(call) + " failed without an error text";
    throw StarterError(text);
}

bool IsDecimal(std::string_view text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace

HttpsBody &HttpsBody::operator=(HttpsBody &&other) noexcept {
    if (this != &other) {
        Release();
        block_ = other.block_;
        size_ = other.size_;
        other.block_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

void HttpsBody::Release() noexcept {
    if (block_ != nullptr) https_Release(block_);
    block_ = nullptr;
    size_ = 0;
}

HttpsUrl SplitUrl(std::string_view url) {
    SplitResult scheme = SplitBy(url, "://", false);
    HttpsUrl parts;
    std::string name = Lower(scheme.before);
    if (scheme.found && name == "http") {
        parts.port = 80;
    } else if (scheme.found && name == "https") {
        parts.port = 443;
        parts.secure = true;
    } else {
        throw StarterError("Invalid URL scheme: " + scheme.before + "://");
    }
    SplitResult host = SplitBy(scheme.after, "/", false);
    parts.path = "/" + host.after;
    SplitResult port = SplitBy(host.before, ":", false);
    parts.host = port.before;
    if (IsDecimal(port.after)) parts.port = std::stoi(port.after);
    return parts;
}

void HttpsStart(const std::string &proxy, const std::string &username, const std::string &password) {
    char *error = nullptr;
    if (https_Start(proxy.c_str(), username.c_str(), password.c_str(), &error) != 0)
        RaiseTransportError("https_Start", error);
    https_Release(error);
}

void HttpsStop() {
    char *error = nullptr;
    if (https_Stop(&error) != 0) RaiseTransportError("https_Stop", error);
    https_Release(error);
}

HttpsResponse HttpsRequest(const std::string &method, std::string_view url, const std::string &headers,
                           const void *body, size_t length, uint32_t timeoutMs) {
    HttpsUrl parts = SplitUrl(url);
    if (length > std::numeric_limits<uint32_t>::max())
        throw StarterError("Request body of " + std::to_string(length) + " bytes is too large");
    HttpsResponse response;
    char *responseHeaders = nullptr;
    void *responseBody = nullptr;
    uint32_t responseLength = 0;
    char *error = nullptr;
    int32_t result = https_Request(parts.host.c_str(), parts.port, parts.secure ? 1 : 0, method.c_str(),
                                   parts.path.c_str(), headers.c_str(), body, static_cast<uint32_t>(length), timeoutMs,
                                   &response.status, &responseHeaders, &responseBody, &responseLength, &error);
    // Headers are copied and given back at once; the body stays in its block until the caller is done.
    response.headers = TakeText(responseHeaders);
    response.body = HttpsBody(responseBody, responseLength);
    if (result != 0) {
        response.body.Release();
        RaiseTransportError("https_Request", error);
    }
    https_Release(error);
    return response;
}

HttpsSession::~HttpsSession() {
    try {
        HttpsStop();
    } catch (...) {
        // Closing cannot undo anything; the next https_Start replaces the transport anyway.
    }
}

}  // namespace zolm::starter
