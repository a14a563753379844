// XmlRpcCall end to end against a real HTTPS server whose answers each case chooses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "starter/base64.h"
#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "rpc_documents.h"
#include "testing/net_peers.h"

using namespace zolm::starter;
using namespace zolm::starter::testing;
namespace peers = zolm::https::testing;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {

const char kMethod[] = "Versions.GetPatchInfo";
const char kTemplate[] = "<product>{0}</product><version>{1}</version>";

struct SentRequest {
    std::string type, id, content;
};

// The inner request document of an envelope as the server reads it.
SentRequest ReadRequest(const std::string &envelope) {
    XmlDocument inner = InnerRequest(envelope);
    auto request = inner ? inner.SelectSingleNode("/request") : std::nullopt;
    if (!request) return {};
    std::string content;
    for (auto child : request->SelectNodes("*")) content += child.LocalName() + "=" + child.Text() + ";";
    return {request->SelectSingleNode("@type")->Text(), request->SelectSingleNode("@id")->Text(), content};
}

std::string Inner(const std::string &attributes, const std::string &content) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><response " + attributes + ">" + content + "</response>";
}

std::string Fault(const std::string &members) {
    return "<methodResponse><fault><value><struct>" + members + "</struct></value></fault></methodResponse>";
}

std::string Member(const std::string &name, const std::string &value) {
    return "<member><name>" + name + "</name><value>" + value + "</value></member>";
}

// The body the server answers with, made from the request it received.
using Answer = std::function<std::string(const SentRequest &)>;

class XmlRpcTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new peers::TestPki; }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }
    void SetUp() override {
        env_ = std::make_unique<peers::ScopedEnv>("SSL_CERT_FILE", pki_->CaFile().c_str());
        HttpsStart("INTERNET_OPEN_TYPE_DIRECT", "", "");
    }
    void TearDown() override { HttpsStop(); }

    // The server answers with status, header lines and a body made from the request it received.
    void Answer_(int status, std::string headers, Answer body) {
        status_ = status;
        headers_ = std::move(headers);
        body_ = std::move(body);
    }
    std::string Url() const { return "https://localhost:" + std::to_string(server_.Port()) + "/RPC2"; }
    XmlDocument Call(const std::vector<XmlRpcArgument> &arguments = {std::string("Zolm"), std::string("00000001")},
                     uint32_t timeoutMs = 10000) {
        return XmlRpcCall(Url(), kMethod, kTemplate, timeoutMs, arguments);
    }
    std::string CallError() {
        try {
            Call();
        } catch (const TXmlRpcError &e) {
            return std::string("TXmlRpcError: ") + e.what();
        } catch (const StarterError &e) {
            return e.what();
        }
        return "(no error)";
    }
    std::string Wrapped(const std::string &message) {
        return "XMLRPC вызов Versions.GetPatchInfo --> " + Url() + " завершился с ошибкой: " + message;
    }

    static peers::TestPki *pki_;
    std::unique_ptr<peers::ScopedEnv> env_;
    int status_ = 200;
    std::string headers_ = "Content-Type: text/xml\r\n";
    Answer body_;
    peers::TestServer server_{pki_, [this](const peers::ReceivedRequest &request) {
                                  std::string body = body_ ? body_(ReadRequest(request.body)) : "";
                                  return peers::Response(status_, headers_, body);
                              }};
};

peers::TestPki *XmlRpcTest::pki_ = nullptr;

// A well-formed answer to the request received, with the given content.
Answer Good(const std::string &content) {
    return [content](const SentRequest &sent) {
        return MethodResponse(Inner("type=\"" + sent.type + "\" request-id=\"" + sent.id + "\" id=\"7\"", content));
    };
}

TEST_F(XmlRpcTest, CallSendsTheEnvelopeAndReturnsTheInnerAnswer) {
    Answer_(200, "Content-Type: TEXT/XML; charset=utf-8\r\n", Good("<patch><size>4096</size></patch>"));
    XmlDocument answer = Call({std::string("Zolm & <Co>"), std::string("00000001")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer.SelectSingleNode("/response/patch/size")->Text(), "4096");

    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0].head, StartsWith("POST /RPC2 HTTP/1.1\r\n"));
    EXPECT_THAT(requests[0].head, ::testing::HasSubstr("\r\nContent-Type: text/xml\r\n"));
    const std::string &envelope = requests[0].body;
    EXPECT_THAT(envelope, MatchesRegex("<\\?xml version=\"1.0\"\\?><methodCall><methodName>Versions.GetPatchInfo"
                                       "</methodName><params><param><value><string>[A-Za-z0-9+/=]+</string></value>"
                                       "</param></params></methodCall>"));
    // The inner request, byte for byte.
    size_t from = envelope.find("<string>") + 8;
    auto inner = Base64Decode(envelope.substr(from, envelope.find("</string>") - from));
    ASSERT_TRUE(inner);
    std::string document(reinterpret_cast<const char *>(inner->data()), inner->size());
    SentRequest sent = ReadRequest(envelope);
    EXPECT_THAT(sent.id, MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
    EXPECT_EQ(document, "<?xml version=\"1.0\" encoding=\"utf-8\"?><request type=\"Versions.GetPatchInfo\" id=\"" +
                            sent.id +
                            "\"><product>Zolm &amp; &lt;Co&gt;</product><version>00000001</version></request>");
    // A fresh identifier for every call.
    Call();
    EXPECT_NE(ReadRequest(server_.Requests()[1].body).id, sent.id);
}

TEST_F(XmlRpcTest, EveryMalformedAnswerGetsItsMessage) {
    std::string longText(600, 'x');
    struct Case {
        const char *name;
        int status;
        std::string headers;
        Answer body;
        std::string error;  // before wrapping
    };
    auto fixed = [](std::string body) { return [body](const SentRequest &) { return body; }; };
    auto withAttributes = [](std::function<std::string(const SentRequest &)> attributes) {
        return [attributes](const SentRequest &sent) { return MethodResponse(Inner(attributes(sent), "")); };
    };
    const Case cases[] = {
        {"status 500", 500, "Content-Type: text/xml\r\n", Good(""), "HTTP запрос вернул код 500"},
        {"status 404", 404, "Content-Type: text/xml\r\n", Good(""), "HTTP запрос вернул код 404"},
        {"no Content-Type", 200, "", Good(""), "HTTP запрос вернул ответ без Content-Type"},
        {"empty Content-Type", 200, "Content-Type:  \r\n", Good(""), "HTTP запрос вернул ответ без Content-Type"},
        {"application/xml", 200, "Content-Type: application/xml\r\n", Good(""),
         "HTTP запрос вернул ответ с Content-Type: application/xml"},
        {"later header replaces earlier", 200, "Content-Type: text/xml\r\ncontent-type: text/html; charset=x\r\n",
         Good(""), "HTTP запрос вернул ответ с Content-Type: text/html; charset=x"},
        {"not XML", 200, "Content-Type: text/xml\r\n", fixed("<html"), "HTTP запрос вернул некорректный XML ответ: "},
        {"empty body", 200, "Content-Type: text/xml\r\n", fixed(""), "HTTP запрос вернул некорректный XML ответ: "},
        {"not XML-RPC", 200, "Content-Type: text/xml\r\n", fixed("<methodCall/>"),
         "HTTP запрос вернул не XMLRPC ответ"},
        {"fault", 200, "Content-Type: text/xml\r\n",
         fixed(Fault(Member("faultCode", "<int>4</int>") + Member("faultString", "<string>" + longText + "</string>"))),
         "XMLRPC/4 " + std::string(512, 'x') + "..."},
        {"fault without members", 200, "Content-Type: text/xml\r\n", fixed(Fault("")), "XMLRPC/? ?"},
        {"no params", 200, "Content-Type: text/xml\r\n", fixed("<methodResponse/>"),
         "HTTP запрос вернул XMLRPC ответ без содержимого"},
        {"value is not base64", 200, "Content-Type: text/xml\r\n",
         fixed("<methodResponse><params><param><value>QQ</value></param></params></methodResponse>"),
         "Некорректный XML ответ: "},
        {"inner is not XML", 200, "Content-Type: text/xml\r\n", fixed(MethodResponse("<response")),
         "Некорректный XML ответ: "},
        {"no /response", 200, "Content-Type: text/xml\r\n", fixed(MethodResponse("<answer/>")),
         "XMLRPC запрос вернул ответ без /response"},
        {"no type", 200, "Content-Type: text/xml\r\n",
         withAttributes([](const SentRequest &s) { return "request-id=\"" + s.id + "\" id=\"1\""; }),
         "XMLRPC запрос вернул ответ без /response/@type"},
        {"wrong type", 200, "Content-Type: text/xml\r\n", withAttributes([](const SentRequest &s) {
             return "type=\"versions.getpatchinfo\" request-id=\"" + s.id + "\" id=\"1\"";
         }),
         "XMLRPC запрос вернул ответ с неверным значением /response/@type"},
        {"no request-id", 200, "Content-Type: text/xml\r\n",
         withAttributes([](const SentRequest &s) { return "type=\"" + s.type + "\" id=\"1\""; }),
         "XMLRPC запрос вернул ответ без /response/@request-id"},
        {"other request-id", 200, "Content-Type: text/xml\r\n",
         [](const SentRequest &s) {
             std::string other = s.id;
             other[0] = other[0] == 'A' ? 'B' : 'A';
             return MethodResponse(Inner("type=\"" + s.type + "\" request-id=\"" + other + "\" id=\"1\"",
                                         "<patch><size>1</size></patch>"));
         },
         "XMLRPC запрос вернул ответ с неверным значением /response/@request-id"},
        {"lower-case request-id", 200, "Content-Type: text/xml\r\n", withAttributes([](const SentRequest &s) {
             std::string lower = s.id;
             for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             return "type=\"" + s.type + "\" request-id=\"" + lower + "\" id=\"1\"";
         }),
         "XMLRPC запрос вернул ответ с неверным значением /response/@request-id"},
        {"no id", 200, "Content-Type: text/xml\r\n",
         withAttributes([](const SentRequest &s) { return "type=\"" + s.type + "\" request-id=\"" + s.id + "\""; }),
         "XMLRPC запрос вернул ответ без /response/@id"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Answer_(c.status, c.headers, c.body);
        EXPECT_THAT(CallError(), StartsWith(Wrapped(c.error)));
    }
}

TEST_F(XmlRpcTest, ServerErrorsPassUnchangedAsTXmlRpcError) {
    std::string longText = std::string(510, 'a') + "яяя";  // 513 characters
    Answer_(200, "Content-Type: text/xml\r\n",
            Good("<errors><error>" + longText + "</error><error>второй</error></errors>"));
    try {
        Call();
        FAIL() << "no error";
    } catch (const TXmlRpcError &e) {
        EXPECT_EQ(std::string(e.what()), std::string(510, 'a') + "яя...");
        EXPECT_EQ(e.ErrorCount(), 2);
        EXPECT_THAT(e.ErrorTexts(), ::testing::ElementsAre(longText, "второй"));
    }
    Answer_(200, "Content-Type: text/xml\r\n", Good("<errors><error>нет такого продукта</error></errors>"));
    EXPECT_EQ(CallError(), "TXmlRpcError: нет такого продукта");
    // Errors elsewhere than /response/errors/error are content.
    Answer_(200, "Content-Type: text/xml\r\n", Good("<error>x</error><errors/>"));
    EXPECT_NO_THROW(Call());
}

TEST_F(XmlRpcTest, TransportFailuresAreWrapped) {
    // A server that never answers: the caller's time-out ends the call.
    Answer_(200, "", nullptr);
    peers::TestServer silent(pki_, [](const peers::ReceivedRequest &) { return std::string(); });
    std::string url = "https://localhost:" + std::to_string(silent.Port()) + "/RPC2";
    try {
        XmlRpcCall(url, kMethod, kTemplate, 700, {});
        FAIL() << "no error";
    } catch (const StarterError &e) {
        EXPECT_THAT(e.what(), StartsWith("XMLRPC вызов Versions.GetPatchInfo --> " + url +
                                         " завершился с ошибкой: Operation timed out after "));
    }
    try {
        XmlRpcCall("ftp://localhost/RPC2", kMethod, kTemplate, 1000, {});
        FAIL() << "no error";
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "XMLRPC вызов Versions.GetPatchInfo --> ftp://localhost/RPC2 завершился с "
                  "ошибкой: Invalid URL scheme: ftp://");
    }
}

TEST_F(XmlRpcTest, LargeAnswerArrivesWhole) {
    // Beyond libxml2's default limit for one text node (10 MB), as in a large patch answer.
    std::string patch(9 << 20, '\0');
    for (size_t i = 0; i < patch.size(); ++i) patch[i] = static_cast<char>((i * 131) ^ (i >> 9));
    std::string encoded = Base64Encode(patch);
    Answer_(200, "Content-Type: text/xml\r\n", Good("<patch><data>" + encoded + "</data></patch>"));
    XmlDocument answer = Call();
    ASSERT_TRUE(answer);
    std::string storage;
    auto data = answer.SelectSingleNode("/response/patch/data");
    ASSERT_TRUE(data);
    std::string_view text = data->TextView(storage);
    EXPECT_EQ(text.size(), encoded.size());
    EXPECT_TRUE(text == encoded);
}

TEST_F(XmlRpcTest, LargeMalformedAnswersGetTheirMessagesToo) {
    // Answers of several megabytes are read on two threads; every way of failing must still end the
    // call with its message.
    std::string pad = "<pad>" + Base64Encode(std::string(6 << 20, 'p')) + "</pad>";
    auto inner = [&](const SentRequest &s, const std::string &content) {
        return Inner("type=\"" + s.type + "\" request-id=\"" + s.id + "\" id=\"1\"", content);
    };
    auto innerReason = [](const std::string &document) {
        std::string reason;
        EXPECT_FALSE(ParseXmlBytes(document.data(), document.size(), reason));
        return "Некорректный XML ответ: " + reason;
    };
    std::string brokenAtTheEnd = Inner("type=\"x\" request-id=\"y\" id=\"1\"", pad + "<open>");
    brokenAtTheEnd.erase(brokenAtTheEnd.size() - std::string("</response>").size());
    struct Case {
        const char *name;
        Answer body;
        std::string error;  // before wrapping, or the TXmlRpcError's text
        bool exact;
    } cases[] = {
        {"inner document cut at its end", [&](const SentRequest &) { return MethodResponse(brokenAtTheEnd); },
         innerReason(brokenAtTheEnd), true},
        {"inner document broken at its start",
         [&](const SentRequest &) { return MethodResponse("<response <" + pad + "</response>"); },
         "Некорректный XML ответ: ", false},
        {"base64 one sextet short",
         [&](const SentRequest &s) {
             std::string body = MethodResponse(inner(s, pad));
             return body.insert(body.find("</string>"), "A");
         },
         "Некорректный XML ответ: the base64 text cannot be decoded", true},
        {"outer document broken after the content",
         [&](const SentRequest &s) { return MethodResponse(inner(s, pad)) + "<trailing>"; },
         "HTTP запрос вернул некорректный XML ответ: ", false},
        {"errors of the server",
         [&](const SentRequest &s) { return MethodResponse(inner(s, pad + "<errors><error>нет</error></errors>")); },
         "TXmlRpcError: нет", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Answer_(200, "Content-Type: text/xml\r\n", c.body);
        std::string error = CallError();
        std::string expected = c.error.rfind("TXmlRpcError", 0) == 0 ? c.error : Wrapped(c.error);
        if (c.exact)
            EXPECT_EQ(error, expected);
        else
            EXPECT_THAT(error, StartsWith(expected));
    }
}

}  // namespace
