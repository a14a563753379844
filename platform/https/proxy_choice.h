// Which proxy a request goes through: the proxy text given to https_Start, and for the system's
// settings the answer of libproxy for each URL, turned into what libcurl takes as its proxy.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/https/curl_handles.h"

namespace zolm::https {

enum class ProxyMode {
    kDirect,  // no proxy, whatever the environment says
    kSystem,  // the system's settings, asked for each URL
    kFixed,   // the one proxy given as host:port
};

struct ProxyChoice {
    ProxyMode mode = ProxyMode::kSystem;
    std::string server;  // kFixed only: "host:port"
};

// Reads the proxy text of https_Start. Raises std::runtime_error with the invalid text (without any
// user name and password in it) when a "host:port" text has no host, no port from 1 to 65535, or
// carries credentials, which belong to the credential arguments.
ProxyChoice ParseProxyText(std::string_view text);

// libcurl's proxy for the first usable entry of a libproxy answer ("" for a direct connection).
// libproxy's "socks://" names no version; SOCKS 5 is the one proxies offer today. Unknown schemes are
// passed over; when nothing is usable, raises std::runtime_error naming the URL and the answer.
std::string CurlProxyFromSystemList(const std::vector<std::string> &proxies, std::string_view url);

// The system's proxy settings as libproxy finds them: environment (http_proxy, https_proxy, no_proxy),
// desktop settings, PAC and WPAD. One factory per open transport; calls are serialised because a
// libproxy factory is not safe for concurrent use.
class SystemProxies {
public:
    SystemProxies();  // raises std::runtime_error when libproxy cannot start
    std::string CurlProxyFor(const std::string &url);

private:
    std::mutex mutex_;
    ProxyFactory factory_;
};

}  // namespace zolm::https
