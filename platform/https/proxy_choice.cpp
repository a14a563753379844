#include "platform/https/proxy_choice.h"

#include <stdexcept>

namespace zolm::https {
namespace {

constexpr std::string_view kDirectText = "INTERNET_OPEN_TYPE_DIRECT";
constexpr std::string_view kPreconfigText = "INTERNET_OPEN_TYPE_PRECONFIG";

bool IsValidPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool IsValidHost(std::string_view host) {
    if (host.empty()) return false;
    for (char c : host) {
        auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f) return false;
    }
    return true;
}

// A proxy URL as it may appear in an error text: without the user name and password it may carry.
std::string WithoutUserInfo(const std::string &url) {
    size_t authority = url.find("://");
    authority = authority == std::string::npos ? 0 : authority + 3;
    size_t end = url.find_first_of("/?#", authority);
    size_t at = url.rfind('@', end == std::string::npos ? url.size() : end);
    if (at == std::string::npos || at < authority) return url;
    return url.substr(0, authority) + url.substr(at + 1);
}

}  // namespace

ProxyChoice ParseProxyText(std::string_view text) {
    if (text == kDirectText) return {ProxyMode::kDirect, {}};
    if (text.empty() || text == kPreconfigText) return {ProxyMode::kSystem, {}};
    std::string shown = WithoutUserInfo(std::string(text));
    if (shown.size() != text.size())
        throw std::runtime_error("Invalid proxy server \"" + shown +
                                 "\": the user name and password are given apart, not in the address");
    // The port follows the last colon, so that a bracketed IPv6 address keeps its own colons.
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || !IsValidHost(text.substr(0, colon)) ||
        !IsValidPort(text.substr(colon + 1))) {
        throw std::runtime_error("Invalid proxy server \"" + shown +
                                 "\": expected host:port with a port from 1 to 65535");
    }
    return {ProxyMode::kFixed, std::string(text)};
}

std::string CurlProxyFromSystemList(const std::vector<std::string> &proxies, std::string_view url) {
    struct Scheme {
        std::string_view libproxy;
        std::string_view curl;
    };
    // SOCKS proxies resolve host names themselves, as browsers let them.
    static constexpr Scheme kSchemes[] = {
        {"http://", "http://"},      {"https://", "https://"},    {"socks://", "socks5h://"},
        {"socks5://", "socks5h://"}, {"socks4://", "socks4a://"}, {"socks4a://", "socks4a://"},
    };
    for (const std::string &proxy : proxies) {
        if (proxy == "direct://") return "";
        for (const Scheme &scheme : kSchemes) {
            if (proxy.starts_with(scheme.libproxy) && proxy.size() > scheme.libproxy.size()) {
                return std::string(scheme.curl) + proxy.substr(scheme.libproxy.size());
            }
        }
    }
    std::string listed;
    for (const std::string &proxy : proxies) listed += (listed.empty() ? "" : ", ") + WithoutUserInfo(proxy);
    throw std::runtime_error("The system proxy settings offer no usable proxy for " + std::string(url) + " (" +
                             (listed.empty() ? std::string("none") : listed) + ")");
}

SystemProxies::SystemProxies() : factory_(px_proxy_factory_new()) {
    if (!factory_) throw std::runtime_error("px_proxy_factory_new() failed: cannot read the system proxy settings");
}

std::string SystemProxies::CurlProxyFor(const std::string &url) {
    std::vector<std::string> proxies;
    {
        std::lock_guard lock(mutex_);
        ProxyList list(px_proxy_factory_get_proxies(factory_.get(), url.c_str()));
        for (char **entry = list.get(); entry != nullptr && *entry != nullptr; ++entry) proxies.emplace_back(*entry);
    }
    return CurlProxyFromSystemList(proxies, url);
}

}  // namespace zolm::https
