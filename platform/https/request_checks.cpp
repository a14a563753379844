#include "platform/https/request_checks.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace zolm::https {
namespace {

[[noreturn]] void Fail(const std::string &text) { throw std::runtime_error(text); }

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

std::string RequestUrl(const RequestArgs &args) {
    if (args.secure != 0 && args.secure != 1)
        Fail("Invalid secure flag " + std::to_string(args.secure) + ": expected 1 for https or 0 for http");
    if (args.port < 1 || args.port > 65535) Fail("Invalid port " + std::to_string(args.port));
    std::string path(args.path.empty() ? std::string_view("/") : args.path);
    if (path.front() != '/' || std::any_of(path.begin(), path.end(), IsControlOrSpace))
        Fail("Invalid path \"" + path + "\": expected \"/\" followed by characters without blanks");
    return std::string(args.secure ? "https://" : "http://") + UrlHost(args.host) + ":" + std::to_string(args.port) +
           path;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace

bool AppendCallerHeaders(std::string_view text, CurlHeaderList &list) {
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

CheckedRequest CheckRequest(const RequestArgs &args) {
    CheckedRequest checked{RequestUrl(args), args.method == "POST"};
    if (!checked.post && args.method != "GET")
        Fail("Unsupported method \"" + std::string(args.method) + "\": expected GET or POST");
    if (args.body == nullptr && args.bodyLength != 0)
        Fail("Request body is missing: NULL with a length of " + std::to_string(args.bodyLength) + " bytes");
    if (!checked.post && args.bodyLength != 0) Fail("A GET request carries no body");
    if (args.timeoutMs == 0) Fail("Invalid time-out of 0 ms: it must be greater than 0");
    return checked;
}

}  // namespace zolm::https
