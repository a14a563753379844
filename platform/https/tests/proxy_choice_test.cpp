// How libproxy's answers become libcurl's proxy.
#include "platform/https/proxy_choice.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zolm::https {
namespace {

TEST(CurlProxyFromSystemList, TakesTheFirstUsableEntry) {
    struct Case {
        std::vector<std::string> proxies;
        const char *curl;
    };
    const Case cases[] = {
        {{"direct://"}, ""},
        {{"http://proxy:3128", "direct://"}, "http://proxy:3128"},
        {{"https://proxy:443"}, "https://proxy:443"},
        {{"socks://proxy:1080"}, "socks5h://proxy:1080"},
        {{"socks5://proxy:1080"}, "socks5h://proxy:1080"},
        {{"socks4://proxy:1080"}, "socks4a://proxy:1080"},
        {{"ftp://proxy:21", "http://user:pw@proxy:8080"}, "http://user:pw@proxy:8080"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.proxies.front());
        EXPECT_EQ(CurlProxyFromSystemList(c.proxies, "http://h/"), c.curl);
    }
}

TEST(CurlProxyFromSystemList, NothingUsableIsAnError) {
    struct Case {
        std::vector<std::string> proxies;
        const char *error;
    };
    const Case cases[] = {
        {{}, "The system proxy settings offer no usable proxy for https://h:443/ (none)"},
        {{"ftp://p:21", "http://"},
         "The system proxy settings offer no usable proxy for https://h:443/ (ftp://p:21, http://)"},
        // A password in the settings never reaches the error text.
        {{"gopher://user:pw@p:70/x@y", "ftp://u@p"},
         "The system proxy settings offer no usable proxy for https://h:443/ (gopher://p:70/x@y, ftp://p)"},
    };
    for (const Case &c : cases) {
        try {
            CurlProxyFromSystemList(c.proxies, "https://h:443/");
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}

TEST(ParseProxyText, ModesOfTheProxyText) {
    EXPECT_EQ(ParseProxyText("INTERNET_OPEN_TYPE_DIRECT").mode, ProxyMode::kDirect);
    EXPECT_EQ(ParseProxyText("INTERNET_OPEN_TYPE_PRECONFIG").mode, ProxyMode::kSystem);
    EXPECT_EQ(ParseProxyText("").mode, ProxyMode::kSystem);
    for (const char *text : {"proxy.example:3128", "10.0.0.1:8080", "[::1]:3128"}) {
        ProxyChoice choice = ParseProxyText(text);
        EXPECT_EQ(choice.mode, ProxyMode::kFixed);
        EXPECT_EQ(choice.server, text);
    }
}

}  // namespace
}  // namespace zolm::https
