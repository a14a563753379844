// https: the starter's wrappers around the four functions of libhttps.so. Every other module makes
// its HTTP(S) requests through these; failures of the library become StarterError with the library's
// own text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zolm::starter {

// A response body block of the transport. Owns it: released (the library zeroes it) when the object
// goes or Release is called. Views into it end with its release.
class HttpsBody {
public:
    HttpsBody() = default;
    HttpsBody(void *block, size_t size) : block_(block), size_(size) {}
    HttpsBody(HttpsBody &&other) noexcept : block_(other.block_), size_(other.size_) {
        other.block_ = nullptr;
        other.size_ = 0;
    }
    HttpsBody &operator=(HttpsBody &&other) noexcept;
    HttpsBody(const HttpsBody &) = delete;
    HttpsBody &operator=(const HttpsBody &) = delete;
    ~HttpsBody() { Release(); }

    const uint8_t *data() const { return static_cast<const uint8_t *>(block_); }
    size_t size() const { return size_; }
    std::string_view Text() const { return {static_cast<const char *>(block_), size_}; }
    void Release() noexcept;

private:
    void *block_ = nullptr;
    size_t size_ = 0;
};

struct HttpsResponse {
    uint16_t status = 0;
    std::string headers;  // "Name: value" lines joined by CR LF
    HttpsBody body;
};

// The parts of a request URL.
struct HttpsUrl {
    std::string host;
    int32_t port = 0;
    bool secure = false;
    std::string path;  // "/" followed by the rest of the URL after the host part, query included
};

// Splits "scheme://host[:port][/path]". The scheme is "http" (port 80) or "https" (port 443), in any
// letter case; anything else, also a URL without "://", raises "Invalid URL scheme: %s://". A port
// that is missing or not a decimal number gives the scheme's port.
HttpsUrl SplitUrl(std::string_view url);

// https_Start: opens the transport with a proxy text ("INTERNET_OPEN_TYPE_DIRECT",
// "INTERNET_OPEN_TYPE_PRECONFIG", "host:port" or empty) and proxy credentials.
void HttpsStart(const std::string &proxy, const std::string &username, const std::string &password);
// https_Stop.
void HttpsStop();

// One request: method "GET" or "POST", headers extra "Name: value" lines (CR LF separated), body of
// length bytes (may be null when length is 0).
HttpsResponse HttpsRequest(const std::string &method, std::string_view url, const std::string &headers,
                           const void *body, size_t length, uint32_t timeoutMs);

// Opens the transport for one scope and closes it (ignoring a closing error) when the scope ends.
class HttpsSession {
public:
    HttpsSession(const std::string &proxy, const std::string &username, const std::string &password) {
        HttpsStart(proxy, username, password);
    }
    ~HttpsSession();
    HttpsSession(const HttpsSession &) = delete;
    HttpsSession &operator=(const HttpsSession &) = delete;
};

}  // namespace zolm::starter
