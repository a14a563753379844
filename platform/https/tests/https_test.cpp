// libhttps.so through its C interface, against real servers and a real proxy on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/https/tests/https_client.h"
#include "testing/net_peers.h"

namespace zolm::https::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const char kDate[] = "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n";

std::string ProbeAnswer(const ReceivedRequest &) {
    return Response(200, std::string(kDate) + "Content-Type: text/plain\r\n", "probe-ok");
}

std::string ManyHeaders(int count, size_t size) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += "X-H" + std::to_string(i) + ": " + std::string(size, 'h') + "\r\n";
    return lines;
}

// Every test starts with the test CA trusted, no proxy in the environment and the transport closed.
class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new TestPki; }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }
    void SetUp() override { env_.emplace(*pki_); }
    void TearDown() override { EXPECT_EQ(Stop(), ""); }
    void Env(const char *name, const char *value) { env_->Set(name, value); }

    static TestPki *pki_;
    std::optional<TestEnvironment> env_;
};

TestPki *HttpsTest::pki_ = nullptr;

TEST_F(HttpsTest, GetReturnsStatusHeaderLinesAndBodyOverHttpAndHttps) {
    for (int32_t secure : {0, 1}) {
        SCOPED_TRACE(secure);
        TestServer server(secure ? pki_ : nullptr, ProbeAnswer);
        ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
        Answer answer = Request({.host = "localhost", .port = server.Port(), .secure = secure, .path = "/probe?x=1"});
        EXPECT_EQ(answer.error, "");
        EXPECT_EQ(answer.result, 0);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "probe-ok");
        EXPECT_TRUE(answer.bodyTerminated);
        EXPECT_EQ(answer.headers,
                  "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-Type: text/plain\r\nContent-Length: 8\r\n"
                  "Connection: close");
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_THAT(server.Requests()[0].head, StartsWith("GET /probe?x=1 HTTP/1.1\r\n"));
        EXPECT_THAT(server.Requests()[0].head, HasSubstr("\r\nHost: localhost:" + std::to_string(server.Port())));
        EXPECT_EQ(Stop(), "");
    }
}

TEST_F(HttpsTest, PostSendsExactlyTheCallersBodyAndHeaders) {
    TestServer server(pki_, [](const ReceivedRequest &request) { return Response(500, "", request.body); });
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    std::string binary("<x>\0\x01\xff</x>", 9);
    Answer typed = Request({.port = server.Port(),
                            .method = "POST",
                            .path = "/RPC2",
                            .headers = "Content-Type: text/xml\r\nX-Request: 1\r\n",
                            .body = binary});
    EXPECT_EQ(typed.error, "");
    EXPECT_EQ(typed.status, 500);  // any HTTP answer is a result, not an error
    EXPECT_EQ(typed.body, binary);
    // A large body is sent and received whole (the answer echoes it).
    std::string large(3 << 20, 'a');
    for (size_t i = 0; i < large.size(); i += 4093) large[i] = static_cast<char>(i);
    Answer echoed = Request({.port = server.Port(), .method = "POST", .headers = "X-Big: 1", .body = large});
    EXPECT_EQ(echoed.status, 500);
    EXPECT_TRUE(echoed.body == large);
    // Lines may also end in a lone LF; empty lines are skipped.
    Answer bare = Request({.port = server.Port(), .method = "POST", .path = "/empty", .headers = "X-A: 1\n\r\nX-B: 2"});
    EXPECT_EQ(bare.status, 500);
    EXPECT_EQ(bare.body, "");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_THAT(requests[0].head, StartsWith("POST /RPC2 HTTP/1.1\r\n"));
    EXPECT_THAT(requests[0].head, HasSubstr("\r\nContent-Type: text/xml\r\nX-Request: 1\r\n"));
    EXPECT_EQ(requests[0].body, binary);
    EXPECT_THAT(requests[1].head, HasSubstr("\r\nX-Big: 1\r\n"));
    EXPECT_EQ(requests[1].body.size(), large.size());
    // No header the caller did not ask for: no form Content-Type, no "Expect: 100-continue".
    for (const ReceivedRequest &request : requests) EXPECT_THAT(request.head, Not(HasSubstr("Expect:")));
    EXPECT_THAT(requests[2].head, Not(HasSubstr("Content-Type:")));
    EXPECT_THAT(requests[2].head, HasSubstr("\r\nContent-Length: 0\r\n"));
    EXPECT_THAT(requests[2].head, HasSubstr("\r\nX-A: 1\r\nX-B: 2\r\n"));
}

std::string Chunked(const std::string &body, size_t piece) {
    std::string framed;
    char size[32];
    for (size_t at = 0; at < body.size(); at += piece) {
        std::string part = body.substr(at, piece);
        snprintf(size, sizeof size, "%zx\r\n", part.size());
        framed += size + part + "\r\n";
    }
    return framed + "0\r\n\r\n";
}

TEST_F(HttpsTest, BodyArrivesWholeHoweverItIsFramed) {
    std::string body(700000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
    struct Case {
        const char *name;
        std::string answer;
    };
    const Case cases[] = {
        {"Content-Length", Response(200, "", body)},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(body, 10000)},
        {"until the connection closes", "HTTP/1.0 200 OK\r\n\r\n" + body},
    };
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(pki_, [&](const ReceivedRequest &) { return c.answer; });
        Answer answer = Request({.port = server.Port()});
        EXPECT_EQ(answer.error, "");
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body.size(), body.size());
        EXPECT_TRUE(answer.body == body);
        EXPECT_TRUE(answer.bodyTerminated);
    }
}

TEST_F(HttpsTest, RedirectIsReturnedNotFollowed) {
    TestServer server(pki_, [](const ReceivedRequest &) {
        return Response(302, "Location: https://127.0.0.1:1/elsewhere\r\n", "moved");
    });
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    Answer answer = Request({.port = server.Port()});
    EXPECT_EQ(answer.status, 302);
    EXPECT_EQ(answer.body, "moved");
    EXPECT_THAT(answer.headers, StartsWith("Location: https://127.0.0.1:1/elsewhere\r\n"));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HttpsTest, EmptyBodyIsAnEmptyTerminatedBlock) {
    TestServer server(pki_, [](const ReceivedRequest &) { return Response(200, kDate, ""); });
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    Answer answer = Request({.port = server.Port()});
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "");
    EXPECT_TRUE(answer.bodyTerminated);
}

TEST_F(HttpsTest, InvalidArgumentsAreRefusedWithTheirText) {
    struct Case {
        const char *name;
        Call call;
        const char *error;
    };
    const Case cases[] = {
        {"blank in host", {.host = "exa mple", .port = 443}, "Invalid host name \"exa mple\""},
        {"path in host", {.host = "a.example/x?", .port = 443}, "Invalid host name \"a.example/x?\""},
        {"user in host", {.host = "u@a.example", .port = 443}, "Invalid host name \"u@a.example\""},
        {"empty host", {.host = "", .port = 443}, "Invalid host name \"\""},
        {"port 0", {.port = 0}, "Invalid port 0"},
        {"port too big", {.port = 65536}, "Invalid port 65536"},
        {"secure 2", {.port = 443, .secure = 2}, "Invalid secure flag 2: expected 1 for https or 0 for http"},
        {"method", {.port = 443, .method = "PUT"}, "Unsupported method \"PUT\": expected GET or POST"},
        {"relative path",
         {.port = 443, .path = "probe"},
         "Invalid path \"probe\": expected \"/\" followed by characters without blanks"},
        {"line break in path",
         {.port = 443, .path = "/a\r\nX: y"},
         "Invalid path \"/a\r\nX: y\": expected \"/\" followed by characters without blanks"},
        {"header without colon",
         {.port = 443, .headers = "Content-Type: text/xml\r\nBroken"},
         "Invalid request header line \"Broken\": expected \"Name: value\""},
        {"carriage return inside a header",
         {.port = 443, .headers = "X-A: 1\rX-B: 2"},
         "Invalid request header line \"X-A: 1\rX-B: 2\": expected \"Name: value\""},
        {"GET with body", {.port = 443, .body = "x"}, "A GET request carries no body"},
        {"no time-out", {.port = 443, .timeoutMs = 0}, "Invalid time-out of 0 ms: it must be greater than 0"},
    };
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Answer answer = Request(c.call);
        EXPECT_EQ(answer.result, 1);
        EXPECT_EQ(answer.error, c.error);
        EXPECT_EQ(answer.status, 0);
    }

    // Pointers the call cannot work with.
    uint16_t status = 1;
    char *headers = nullptr;
    void *body = nullptr;
    uint32_t length = 1;
    char *error = nullptr;
    EXPECT_EQ(https_Request("127.0.0.1", 443, 1, "POST", "/", "", nullptr, 5, 1000, &status, &headers, &body, &length,
                            &error),
              1);
    EXPECT_EQ(TakeText(error), "Request body is missing: NULL with a length of 5 bytes");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(
        https_Request("127.0.0.1", 443, 1, "GET", "/", "", nullptr, 0, 1000, &status, nullptr, &body, &length, &error),
        1);
    EXPECT_EQ(TakeText(error), "https_Request: an output pointer is NULL");
    EXPECT_EQ(
        https_Request(nullptr, 443, 1, "GET", "/", "", nullptr, 0, 1000, &status, &headers, &body, &length, nullptr),
        1);
}

TEST_F(HttpsTest, TransportFailuresCarryCurlsText) {
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    uint16_t closed = FreePort();
    Answer refused = Request({.port = closed, .secure = 0});
    EXPECT_EQ(refused.result, 1);
    EXPECT_THAT(refused.error, StartsWith("Failed to connect to 127.0.0.1 port " + std::to_string(closed)));
    EXPECT_EQ(refused.headers, "");
    EXPECT_EQ(refused.body, "");

    // A proxy setting that points nowhere.
    TestServer server(nullptr, ProbeAnswer);
    ASSERT_EQ(Start(("127.0.0.1:" + std::to_string(closed)).c_str()), "");
    Answer noProxy = Request({.port = server.Port(), .secure = 0});
    EXPECT_EQ(noProxy.result, 1);
    EXPECT_THAT(noProxy.error, StartsWith("Failed to connect to 127.0.0.1 port " + std::to_string(closed)));
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpsTest, ServerCertificateMustChainToTheTrustedStore) {
    TestServer server(pki_, ProbeAnswer);
    Env("SSL_CERT_FILE", pki_->OtherCaFile().c_str());
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    Answer answer = Request({.port = server.Port()});
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.error, "SSL certificate problem: unable to get local issuer certificate");
}

TEST_F(HttpsTest, SilentServerTimesOutAfterTheCallersLimit) {
    TestServer server(pki_, [](const ReceivedRequest &) { return std::string(); });
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    auto started = std::chrono::steady_clock::now();
    Answer answer = Request({.port = server.Port(), .timeoutMs = 700});
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(answer.result, 1);
    EXPECT_THAT(answer.error, StartsWith("Operation timed out after "));
    EXPECT_LT(elapsed, std::chrono::seconds(30));
}

TEST_F(HttpsTest, OversizedAnswersAreErrorsNotTruncation) {
    struct Case {
        const char *name;
        std::string answer;
        const char *error;
    };
    const Case cases[] = {
        {"body beyond 32-bit lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\nabc",
         "Response body is larger than 4294967295 bytes"},
        // libcurl's own limits and texts: 100 KB for one header line, 300 KB for all of them.
        {"one header line of 2 MB",
         "HTTP/1.1 200 OK\r\nX-Huge: " + std::string(2 << 20, 'h') + "\r\nContent-Length: 0\r\n\r\n", "Out of memory"},
        {"headers of 400 KB in all", "HTTP/1.1 200 OK\r\n" + ManyHeaders(5, 80000) + "Content-Length: 0\r\n\r\n",
         "Too large response headers: "},
    };
    ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(pki_, [&](const ReceivedRequest &) { return c.answer; });
        Answer answer = Request({.port = server.Port()});
        EXPECT_EQ(answer.result, 1);
        EXPECT_THAT(answer.error, StartsWith(c.error));
        EXPECT_EQ(answer.body, "");
    }
}

TEST_F(HttpsTest, CallsOutsideAnOpenTransportAndForeignBlocks) {
    const char *notOpen = "https_Request: the transport is not open (https_Start first)";
    EXPECT_EQ(Request({.port = 443}).error, notOpen);
    EXPECT_EQ(Stop(), "");
    ASSERT_EQ(Start(""), "");
    EXPECT_EQ(Stop(), "");
    EXPECT_EQ(Stop(), "");  // closing twice is harmless
    EXPECT_EQ(Request({.port = 443}).error, notOpen);

    EXPECT_EQ(https_Release(nullptr), 0);
    int foreign = 0;
    EXPECT_NE(https_Release(&foreign), 0);
    char *error = nullptr;
    EXPECT_EQ(https_Stop(&error), 0);
    EXPECT_EQ(error, nullptr);
    ASSERT_NE(https_Start("x", "", "", &error), 0);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(https_Release(error), 0);
    EXPECT_NE(https_Release(error), 0);  // released once already: refused, not freed twice
}

TEST_F(HttpsTest, MalformedProxyTextsAreRefusedAndLeaveTheTransportClosed) {
    for (const char *text : {":", "proxy", "proxy:", ":8080", "proxy:0", "proxy:65536", "proxy:80a", "pro xy:3128",
                             "INTERNET_OPEN_TYPE_PROXY"}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
        EXPECT_EQ(Start(text),
                  "Invalid proxy server \"" + std::string(text) + "\": expected host:port with a port from 1 to 65535");
        EXPECT_EQ(Request({.port = 443}).error, "https_Request: the transport is not open (https_Start first)");
    }
    // Credentials typed into the proxy text stay out of the error.
    EXPECT_EQ(Start("user:pw@proxy:3128"),
              "Invalid proxy server \"proxy:3128\": the user name and password are given apart, not in the address");
    EXPECT_EQ(Start("http://user:pw@proxy:3128"),
              "Invalid proxy server \"http://proxy:3128\": the user name and "
              "password are given apart, not in the address");
}

// tinyproxy demanding "user"/"secret", and one origin server per scheme behind it.
class ProxyTest : public HttpsTest {
protected:
    Tinyproxy proxy_{"user", "secret"};
    TestServer http_{nullptr, ProbeAnswer};
    TestServer https_{pki_, ProbeAnswer};

    Answer Probe(int32_t secure) {
        return Request({.port = secure ? https_.Port() : http_.Port(), .secure = secure, .path = "/probe"});
    }
    void ExpectProxyWantsCredentials(const Answer &answer) {
        EXPECT_EQ(answer.error, "");
        EXPECT_EQ(answer.result, 0);
        EXPECT_EQ(answer.status, 407);
        EXPECT_THAT(answer.headers, HasSubstr("Proxy-Authenticate: Basic"));
    }
    void ExpectProbeAnswer(const Answer &answer) {
        EXPECT_EQ(answer.error, "");
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "probe-ok");
        EXPECT_THAT("\r\n" + answer.headers + "\r\n", HasSubstr("\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"));
    }
};

TEST_F(ProxyTest, GivenProxyAnswers407UntilTheCredentialsAreRightForHttpAndTunnel) {
    // The proxy given by name is used even for an address that no_proxy lists.
    Env("no_proxy", "127.0.0.1,localhost");
    for (int32_t secure : {0, 1}) {
        SCOPED_TRACE(secure);
        ASSERT_EQ(Start(proxy_.Address().c_str()), "");
        ExpectProxyWantsCredentials(Probe(secure));
        // tinyproxy 1.11 refuses wrong credentials with 401 (where other proxies repeat 407); the proxy's
        // code comes through unchanged, for the tunnel too.
        ASSERT_EQ(Start(proxy_.Address().c_str(), "user", "wrong"), "");
        Answer refused = Probe(secure);
        EXPECT_EQ(refused.error, "");
        EXPECT_EQ(refused.status, 401);
        EXPECT_THAT(refused.headers, HasSubstr("Server: tinyproxy/"));
        ASSERT_EQ(Start(proxy_.Address().c_str(), "user", "secret"), "");
        ExpectProbeAnswer(Probe(secure));
        // A POST body survives the proxy's demand for credentials (it is sent again with them).
        Answer posted = Request({.port = secure ? https_.Port() : http_.Port(),
                                 .secure = secure,
                                 .method = "POST",
                                 .path = "/RPC2",
                                 .headers = "Content-Type: text/xml",
                                 .body = "<methodCall/>"});
        EXPECT_EQ(posted.status, 200);
        ASSERT_EQ(Stop(), "");
    }
    for (TestServer *server : {&http_, &https_}) {
        auto requests = server->Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_THAT(requests[0].head, StartsWith("GET /probe HTTP/1."));  // tinyproxy speaks HTTP/1.0
        EXPECT_THAT(requests[1].head, StartsWith("POST /RPC2 HTTP/1."));
        EXPECT_EQ(requests[1].body, "<methodCall/>");
    }
}

TEST_F(ProxyTest, PreconfigAndEmptyTextFollowTheEnvironmentProxy) {
    std::string url = "http://" + proxy_.Address();
    Env("http_proxy", url.c_str());
    Env("https_proxy", url.c_str());
    for (const char *text : {"INTERNET_OPEN_TYPE_PRECONFIG", ""}) {
        for (int32_t secure : {0, 1}) {
            SCOPED_TRACE(std::string(text) + (secure ? " https" : " http"));
            ASSERT_EQ(Start(text), "");
            ExpectProxyWantsCredentials(Probe(secure));
            ASSERT_EQ(Start(text, "user", "secret"), "");
            ExpectProbeAnswer(Probe(secure));
        }
    }
}

TEST_F(ProxyTest, PreconfigHonoursNoProxyAndDirectIgnoresTheEnvironment) {
    for (int32_t secure : {0, 1}) {
        SCOPED_TRACE(secure);
        ASSERT_EQ(Start("INTERNET_OPEN_TYPE_PRECONFIG"), "");  // nothing configured: direct
        ExpectProbeAnswer(Probe(secure));
    }
    std::string url = "http://" + proxy_.Address();
    Env("http_proxy", url.c_str());
    Env("https_proxy", url.c_str());
    for (int32_t secure : {0, 1}) {
        SCOPED_TRACE(secure);
        ASSERT_EQ(Start("INTERNET_OPEN_TYPE_DIRECT"), "");
        ExpectProbeAnswer(Probe(secure));
    }
    Env("no_proxy", "127.0.0.1");
    for (int32_t secure : {0, 1}) {
        SCOPED_TRACE(secure);
        ASSERT_EQ(Start("INTERNET_OPEN_TYPE_PRECONFIG"), "");
        ExpectProbeAnswer(Probe(secure));
    }
}

}  // namespace
}  // namespace zolm::https::testing
