// Owners of the C handles libhttps.so uses: libcurl easy handles and header lists, libproxy factories
// and the proxy lists they return. Each frees its handle with the library's own function.
#pragma once

#include <curl/curl.h>
#include <proxy.h>

#include <memory>
#include <new>
#include <string>

namespace zolm::https {

struct CurlEasyFree {
    void operator()(CURL *easy) const noexcept { curl_easy_cleanup(easy); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyFree>;

// A header list that grows line by line; Append throws std::bad_alloc when curl cannot copy the line.
class CurlHeaderList {
public:
    CurlHeaderList() = default;
    CurlHeaderList(const CurlHeaderList &) = delete;
    CurlHeaderList &operator=(const CurlHeaderList &) = delete;
    ~CurlHeaderList() { curl_slist_free_all(list_); }

    void Append(const std::string &line) {
        curl_slist *grown = curl_slist_append(list_, line.c_str());
        if (grown == nullptr) throw std::bad_alloc();
        list_ = grown;
    }
    curl_slist *Get() const noexcept { return list_; }

private:
    curl_slist *list_ = nullptr;
};

struct ProxyFactoryFree {
    void operator()(pxProxyFactory *factory) const noexcept { px_proxy_factory_free(factory); }
};
using ProxyFactory = std::unique_ptr<pxProxyFactory, ProxyFactoryFree>;

// The NULL-terminated list of proxy URLs px_proxy_factory_get_proxies returns.
struct ProxyListFree {
    void operator()(char **proxies) const noexcept { px_proxy_factory_free_proxies(proxies); }
};
using ProxyList = std::unique_ptr<char *, ProxyListFree>;

}  // namespace zolm::https
