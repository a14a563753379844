// The four exports of libhttps.so: argument checks, the process-wide open transport, and the result
// convention (0, or 1 with an error text from this library's heap).
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/https/blocks.h"
#include "platform/https/transport.h"
#include "zolm/https.h"

using zolm::https::Transport;

namespace {

std::mutex g_mutex;
std::shared_ptr<const Transport> g_transport;  // NULL while closed

std::string_view Text(const char *text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// Runs work; on an exception hands its text out through *error (when the caller gave a place for it).
template <typename Work>
int32_t Report(char **error, Work &&work) noexcept {
    if (error != nullptr) *error = nullptr;
    std::string_view text;
    try {
        work();
        return 0;
    } catch (const std::bad_alloc &) {
        text = "out of memory";
    } catch (const std::exception &e) {
        if (error != nullptr) *error = zolm::https::NewErrorText(e.what());
        return 1;
    } catch (...) {
        text = "unexpected exception";
    }
    if (error != nullptr) *error = zolm::https::NewErrorText(text);
    return 1;
}

}  // namespace

int32_t ZOLM_STDCALL https_Start(const char *proxy, const char *username, const char *password, char **error) {
    return Report(error, [&] {
        std::shared_ptr<const Transport> previous;
        try {
            auto opened = std::make_shared<const Transport>(zolm::https::ParseProxyText(Text(proxy)), Text(username),
                                                            Text(password));
            std::lock_guard lock(g_mutex);
            previous = std::exchange(g_transport, std::move(opened));
        } catch (...) {
            // A failed start leaves the transport closed, not half-replaced.
            std::lock_guard lock(g_mutex);
            previous = std::exchange(g_transport, nullptr);
            throw;
        }
    });
}

int32_t ZOLM_STDCALL https_Request(const char *host, int32_t port, int32_t secure, const char *method, const char *path,
                                   const char *headers, const void *body, uint32_t bodyLength, uint32_t timeoutMs,
                                   uint16_t *status, char **responseHeaders, void **responseBody,
                                   uint32_t *responseBodyLength, char **error) {
    if (status != nullptr) *status = 0;
    if (responseHeaders != nullptr) *responseHeaders = nullptr;
    if (responseBody != nullptr) *responseBody = nullptr;
    if (responseBodyLength != nullptr) *responseBodyLength = 0;
    return Report(error, [&] {
        if (status == nullptr || responseHeaders == nullptr || responseBody == nullptr || responseBodyLength == nullptr)
            throw std::runtime_error("https_Request: an output pointer is NULL");
        std::shared_ptr<const Transport> transport;
        {
            std::lock_guard lock(g_mutex);
            transport = g_transport;
        }
        if (!transport) throw std::runtime_error("https_Request: the transport is not open (https_Start first)");
        zolm::https::RequestResult result = transport->Perform({.host = Text(host),
                                                                .port = port,
                                                                .secure = secure,
                                                                .method = Text(method),
                                                                .path = Text(path),
                                                                .headers = Text(headers),
                                                                .body = body,
                                                                .bodyLength = bodyLength,
                                                                .timeoutMs = timeoutMs});
        char *headersText = zolm::https::NewText(result.headers);
        size_t length = result.body.Size();
        void *bodyBlock;
        try {
            bodyBlock = result.body.Take();
        } catch (...) {
            zolm::https::ReleaseBlock(headersText);
            throw;
        }
        *status = result.status;
        *responseHeaders = headersText;
        *responseBody = bodyBlock;
        *responseBodyLength = static_cast<uint32_t>(length);  // bounded by kMaxBodyLength
    });
}

int32_t ZOLM_STDCALL https_Stop(char **error) {
    return Report(error, [] {
        std::shared_ptr<const Transport> closed;
        std::lock_guard lock(g_mutex);
        closed = std::exchange(g_transport, nullptr);
    });
}

int32_t ZOLM_STDCALL https_Release(void *pointer) { return zolm::https::ReleaseBlock(pointer) ? 0 : 1; }
