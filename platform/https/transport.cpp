#include "platform/https/transport.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "common/secure_zero.h"
#include "platform/https/curl_handles.h"
#include "platform/https/request_checks.h"

namespace zolm::https {
namespace {

// Responses larger than this are not reserved in one piece up front: a server's Content-Length is a
// promise, not memory it has sent.
constexpr size_t kMaxReservation = 256u << 20;

[[noreturn]] void Fail(const std::string &text) { throw std::runtime_error(text); }

void InitCurlOnce() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (result != CURLE_OK) Fail(std::string("curl_global_init() failed: ") + curl_easy_strerror(result));
}

template <typename Value>
void Set(CURL *easy, CURLoption option, Value value) {
    CURLcode result = curl_easy_setopt(easy, option, value);
    if (result != CURLE_OK) Fail(curl_easy_strerror(result));
}

// Collects the body; reports overflow and exhaustion through flags, since nothing may be thrown
// through libcurl.
struct BodySink {
    CURL *easy = nullptr;
    BodyBuffer body;
    bool started = false;
    bool tooLarge = false;
    bool noMemory = false;
};

size_t WriteBody(char *data, size_t size, size_t count, void *context) {
    auto *sink = static_cast<BodySink *>(context);
    size_t length = size * count;
    if (sink->body.Size() + static_cast<uint64_t>(length) > kMaxBodyLength) {
        sink->tooLarge = true;
        return 0;
    }
    try {
        if (!sink->started) {
            sink->started = true;
            curl_off_t declared = -1;
            if (curl_easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK &&
                declared > 0)
                sink->body.Reserve(std::min(static_cast<size_t>(declared), kMaxReservation));
        }
        sink->body.Append(data, length);
    } catch (...) {
        sink->noMemory = true;
        return 0;
    }
    return length;
}

std::string CollectHeaders(CURL *easy, unsigned origin) {
    std::string lines;
    curl_header *previous = nullptr;
    while (curl_header *header = curl_easy_nextheader(easy, origin, -1, previous)) {
        if (!lines.empty()) lines += "\r\n";
        lines += header->name;
        lines += ": ";
        lines += header->value;
        previous = header;
    }
    return lines;
}

// Large answers arrive as thousands of TLS records: with read-ahead they come in with a few large
// reads instead of two small ones each.
CURLcode TuneTls(CURL *, void *sslContext, void *) {
    auto *context = static_cast<SSL_CTX *>(sslContext);
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 256 * 1024);
    return CURLE_OK;
}

std::string BodyTooLargeText() { return "Response body is larger than " + std::to_string(kMaxBodyLength) + " bytes"; }

}  // namespace

SecretText::SecretText(std::string_view text) : text_(new char[text.size() + 1]), size_(text.size()) {
    if (size_ != 0) std::memcpy(text_.get(), text.data(), size_);
    text_[size_] = '\0';
}

SecretText::~SecretText() { SecureZero(text_.get(), size_); }

Transport::Transport(ProxyChoice proxy, std::string_view username, std::string_view password)
    : proxy_(std::move(proxy)), username_(username), password_(password) {
    InitCurlOnce();
    if (proxy_.mode == ProxyMode::kSystem) systemProxies_ = std::make_unique<SystemProxies>();
    if (const char *file = std::getenv("SSL_CERT_FILE"); file != nullptr) caFile_ = file;
}

RequestResult Transport::Perform(const RequestArgs &args) const {
    CheckedRequest checked = CheckRequest(args);
    const std::string &url = checked.url;
    bool post = checked.post;

    CurlHeaderList headers;
    bool contentType = AppendCallerHeaders(args.headers, headers);
    // libcurl would add headers of its own to a POST: a form Content-Type and a wait for
    // "100 Continue". The server gets only what the caller sends.
    if (post && !contentType) headers.Append("Content-Type:");
    headers.Append("Expect:");

    std::string proxy;
    if (proxy_.mode == ProxyMode::kFixed) proxy = proxy_.server;
    if (proxy_.mode == ProxyMode::kSystem) proxy = systemProxies_->CurlProxyFor(url);

    CurlEasy easy(curl_easy_init());
    if (!easy) Fail("curl_easy_init() failed");
    CURL *e = easy.get();
    char errorText[CURL_ERROR_SIZE] = {};
    BodySink sink;
    sink.easy = e;

    Set(e, CURLOPT_ERRORBUFFER, errorText);
    Set(e, CURLOPT_NOSIGNAL, 1L);
    Set(e, CURLOPT_URL, url.c_str());
    Set(e, CURLOPT_PROTOCOLS_STR, "http,https");
    Set(e, CURLOPT_FOLLOWLOCATION, 0L);
    // HTTP/1.1 keeps header names as the server wrote them.
    Set(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    long timeoutMs = static_cast<long>(std::min<uint64_t>(args.timeoutMs, LONG_MAX));
    Set(e, CURLOPT_TIMEOUT_MS, timeoutMs);
    Set(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    Set(e, CURLOPT_HTTPHEADER, headers.Get());
    if (post) {
        static const char kEmpty[] = "";
        Set(e, CURLOPT_POST, 1L);
        Set(e, CURLOPT_POSTFIELDS, args.body != nullptr ? args.body : kEmpty);
        Set(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(args.bodyLength));
    } else {
        Set(e, CURLOPT_HTTPGET, 1L);
    }
    Set(e, CURLOPT_SSL_CTX_FUNCTION, TuneTls);
    Set(e, CURLOPT_WRITEFUNCTION, WriteBody);
    Set(e, CURLOPT_WRITEDATA, &sink);
    Set(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyLength));

    // An explicit proxy ("" for none) keeps libcurl from consulting the environment on its own: the
    // proxy choice of https_Start is the only one.
    Set(e, CURLOPT_PROXY, proxy.c_str());
    Set(e, CURLOPT_NOPROXY, "");
    if (!username_.empty() || !password_.empty()) {
        Set(e, CURLOPT_PROXYUSERNAME, username_.c_str());
        Set(e, CURLOPT_PROXYPASSWORD, password_.c_str());
        Set(e, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
    }
    if (!caFile_.empty()) {
        Set(e, CURLOPT_CAINFO, caFile_.c_str());
        Set(e, CURLOPT_PROXY_CAINFO, caFile_.c_str());
    }

    CURLcode result = curl_easy_perform(e);
    long connectCode = 0;
    long responseCode = 0;
    curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &responseCode);

    RequestResult answer;
    if (result != CURLE_OK) {
        if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) Fail(BodyTooLargeText());
        if (sink.noMemory) Fail("Out of memory for a response body of " + std::to_string(sink.body.Size()) + " bytes");
        // The proxy refused the tunnel (407 when it wants credentials): that answer is the result, as
        // it would be for a plain HTTP request through the same proxy.
        if (connectCode >= 300 && connectCode <= 999) {
            answer.status = static_cast<uint16_t>(connectCode);
            answer.headers = CollectHeaders(e, CURLH_CONNECT);
            return answer;
        }
        Fail(errorText[0] != '\0' ? errorText : curl_easy_strerror(result));
    }
    if (responseCode < 100 || responseCode > 999) Fail("Invalid HTTP status code " + std::to_string(responseCode));
    answer.status = static_cast<uint16_t>(responseCode);
    answer.headers = CollectHeaders(e, CURLH_HEADER);
    answer.body = std::move(sink.body);
    return answer;
}

}  // namespace zolm::https
