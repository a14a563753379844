#include "platform/https/transport.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "common/secure_zero.h"
#include "platform/https/curl_handles.h"

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

bool IsControlOrSpace(char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7f;
}

// The host as it goes into the URL: a name or IPv4 address as given, an IPv6 address in brackets.
std::string UrlHost(std::string_view host) {
    auto invalid = [&] { Fail("Invalid host name \"" + std::string(host) + "\""); };
    if (host.empty()) invalid();
    bool ipv6 = host.find(':') != std::string_view::npos;
    std::string_view bare = host;
    if (ipv6 && bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    for (char c : bare) {
        auto u = static_cast<unsigned char>(c);
        bool ok = ipv6 ? (std::isxdigit(u) || c == ':' || c == '.')
                       : (std::isalnum(u) || c == '-' || c == '.' || c == '_' || u >= 0x80);
        if (!ok) invalid();
    }
    if (bare.empty()) invalid();
    return ipv6 ? "[" + std::string(bare) + "]" : std::string(bare);
}

std::string BuildUrl(const RequestArgs &args) {
    if (args.secure != 0 && args.secure != 1)
        Fail("Invalid secure flag " + std::to_string(args.secure) + ": expected 1 for https or 0 for http");
    if (args.port < 1 || args.port > 65535) Fail("Invalid port " + std::to_string(args.port));
    std::string path(args.path.empty() ? std::string_view("/") : args.path);
    if (path.front() != '/' || std::any_of(path.begin(), path.end(), IsControlOrSpace))
        Fail("Invalid path \"" + path + "\": expected \"/\" followed by characters without blanks");
    return std::string(args.secure ? "https://" : "http://") + UrlHost(args.host) + ":" +
           std::to_string(args.port) + path;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); });
}

// The caller's header lines (CR LF separated, a lone LF accepted, empty lines skipped). Returns whether
// one of them sets Content-Type.
bool AddCallerHeaders(std::string_view text, CurlHeaderList &list) {
    bool contentType = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        bool valid = colon != 0 && colon != std::string_view::npos &&
                     std::none_of(line.begin(), line.begin() + colon, IsControlOrSpace) &&
                     std::none_of(line.begin() + colon, line.end(), [](char c) {
                         auto u = static_cast<unsigned char>(c);
                         return (u < ' ' && c != '\t') || u == 0x7f;
                     });
        if (!valid) Fail("Invalid request header line \"" + std::string(line) + "\": expected \"Name: value\"");
        if (StartsWithNoCase(line, "Content-Type:")) contentType = true;
        list.Append(std::string(line));
    }
    return contentType;
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

std::string BodyTooLargeText() {
    return "Response body is larger than " + std::to_string(kMaxBodyLength) + " bytes";
}

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
    std::string url = BuildUrl(args);
    bool post = args.method == "POST";
    if (!post && args.method != "GET")
        Fail("Unsupported method \"" + std::string(args.method) + "\": expected GET or POST");
    if (args.body == nullptr && args.bodyLength != 0)
        Fail("Request body is missing: NULL with a length of " + std::to_string(args.bodyLength) + " bytes");
    if (!post && args.bodyLength != 0) Fail("A GET request carries no body");
    if (args.timeoutMs == 0) Fail("Invalid time-out of 0 ms: it must be greater than 0");

    CurlHeaderList headers;
    bool contentType = AddCallerHeaders(args.headers, headers);
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
