// The starter's network pieces without a network: URL splitting, HTTP dates and the clock arithmetic,
// base64, the content template, the XML parser's encodings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "starter/base64.h"
#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "starter/start_probe.h"
#include "starter/starter_error.h"
#include "starter/time_tools.h"
#include "starter/xml_document.h"
#include "rpc_documents.h"

using namespace zolm::starter;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

std::string ErrorOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const StarterError &e) {
        return e.what();
    }
    return "(no error)";
}

TEST(SplitUrl, SchemesPortsAndPaths) {
    struct Case {
        const char *url, *host;
        int port;
        bool secure;
        const char *path;
    };
    const Case cases[] = {
        {"https://update.example/probe.txt", "update.example", 443, true, "/probe.txt"},
        {"http://update.example", "update.example", 80, false, "/"},
        {"HTTPS://h:8443/a/b?x=1&y=/z", "h", 8443, true, "/a/b?x=1&y=/z"},
        {"http://h:/p", "h", 80, false, "/p"},         // empty port: the scheme's
        {"https://h:44x/p", "h", 443, true, "/p"},     // not a decimal number: the scheme's
        {"https://h:1:2/p", "h", 443, true, "/p"},     // "1:2" is not a number either
        {"http://h/p://q", "h", 80, false, "/p://q"},  // split at the first "://" only
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        HttpsUrl parts = SplitUrl(c.url);
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.port, c.port);
        EXPECT_EQ(parts.secure, c.secure);
        EXPECT_EQ(parts.path, c.path);
    }
    for (auto [url, error] : std::initializer_list<std::pair<const char *, const char *>>{
             {"", "Invalid URL scheme: ://"},
             {"ftp://h/x", "Invalid URL scheme: ftp://"},
             {"update.example/probe", "Invalid URL scheme: update.example/probe://"},
             {"https:/h/x", "Invalid URL scheme: https:/h/x://"}}) {
        EXPECT_EQ(ErrorOf([&] { SplitUrl(url); }), error);
    }
}

LocalTime Utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    using namespace std::chrono;
    return ToLocalTime(sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) + seconds(ss));
}

TEST(ParseHttpDate, ReadsTheFixedFormAsLocalTime) {
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), Utc(1994, 11, 6, 8, 49, 37));
    EXPECT_EQ(ParseHttpDate("Thu, 29 Feb 2024 23:59:59 GMT"), Utc(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(ParseHttpDate("Sat, 01 Jan 2000 00:00:00 GMT"), Utc(2000, 1, 1, 0, 0, 0));
    // Far from today too (beyond what a nanosecond clock holds).
    EXPECT_EQ(ParseHttpDate("Mon, 01 Jan 0001 00:00:00 GMT"), Utc(1, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT"), Utc(9999, 12, 31, 23, 59, 59));
}

TEST(ParseHttpDate, RefusesEverythingElseWithItsText) {
    struct Case {
        const char *text, *error;
    };
    const Case cases[] = {
        {"", "unexpected timestamp format: "},
        {"Sunday, 06-Nov-94 08:49:37 GMT", "unexpected timestamp format: Sunday, 06-Nov-94 08:49:37 GMT"},
        {"Sun Nov  6 08:49:37 1994", "unexpected timestamp format: Sun Nov  6 08:49:37 1994"},
        {"Sun, 06 Nov 1994 08:49:37 UTC", "unexpected timestamp format: Sun, 06 Nov 1994 08:49:37 UTC"},
        {"Sun, 6 Nov 1994 08:49:37 GMT", "unexpected timestamp format: Sun, 6 Nov 1994 08:49:37 GMT"},
        {"Sun, 06 nov 1994 08:49:37 GMT", "unexpected timestamp month: nov"},
        {"Sun, 06 Xyz 1994 08:49:37 GMT", "unexpected timestamp month: Xyz"},
        {"Sun, 0x Nov 19x4 08:49:37 GMT", "invalid timestamp year: 19x4"},  // the year is read first
        {"Sun, 0x Nov 1994 08:49:37 GMT", "invalid timestamp day: 0x"},
        {"Sun, 06 Nov 1994 -8:49:37 GMT", "invalid timestamp hour: -8"},
        {"Sun, 06 Nov 1994 08:4 :37 GMT", "invalid timestamp minute: 4 "},
        {"Sun, 06 Nov 1994 08:49:+7 GMT", "invalid timestamp second: +7"},
        {"Mon, 06 Nov 1994 08:49:37 GMT", "invalid timestamp day of week"},
        {"sun, 06 Nov 1994 08:49:37 GMT", "invalid timestamp day of week"},
        {"Thu, 30 Feb 2023 08:49:37 GMT", "timestamp out of range: Thu, 30 Feb 2023 08:49:37 GMT"},
        {"Sun, 06 Nov 1994 24:00:00 GMT", "timestamp out of range: Sun, 06 Nov 1994 24:00:00 GMT"},
        {"Sun, 06 Nov 1994 08:60:37 GMT", "timestamp out of range: Sun, 06 Nov 1994 08:60:37 GMT"},
        {"Sun, 00 Nov 1994 08:49:37 GMT", "timestamp out of range: Sun, 00 Nov 1994 08:49:37 GMT"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ErrorOf([&] { ParseHttpDate(c.text); }), c.error);
    }
}

TEST(ClockDifference, HoursCutMinutesRoundedHalfToEven) {
    struct Case {
        double seconds;
        int hours, minutes;
    };
    const Case cases[] = {
        {2 * 3600 + 59 * 60 + 40, 3, 0},  // 59.67 minutes round up to the next hour
        {2 * 3600 + 59 * 60 + 29, 2, 59},
        {61, 0, 1},
        {90, 0, 2},   // 1.5 rounds to even
        {150, 0, 2},  // 2.5 rounds to even
        {30 * 3600 + 5 * 60, 30, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seconds);
        ClockDifference difference = SplitClockDifference(c.seconds / 86400.0);
        EXPECT_EQ(difference.hours, c.hours);
        EXPECT_EQ(difference.minutes, c.minutes);
    }
}

TEST(ProxyText, FollowsTheProxyType) {
    EXPECT_EQ(ProxyText("INTERNET_OPEN_TYPE_DIRECT", "h", "1"), "INTERNET_OPEN_TYPE_DIRECT");
    EXPECT_EQ(ProxyText("INTERNET_OPEN_TYPE_PRECONFIG", "h", "1"), "INTERNET_OPEN_TYPE_PRECONFIG");
    EXPECT_EQ(ProxyText("INTERNET_OPEN_TYPE_PROXY", "proxy.lan", "3128"), "proxy.lan:3128");
    EXPECT_EQ(ProxyText("INTERNET_OPEN_TYPE_PROXY", "", ""), ":");
    EXPECT_EQ(ProxyText("internet_open_type_direct", "h", "1"), "");
    EXPECT_EQ(ProxyText("", "h", "1"), "");
}

TEST(Base64, EncodesWithPadsAndNoLineBreaks) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("A"), "QQ==");
    EXPECT_EQ(Base64Encode("AB"), "QUI=");
    EXPECT_EQ(Base64Encode("ABC"), "QUJD");
    EXPECT_EQ(Base64Encode("\xff\xfe\xfd\x00", 4), "//79AA==");
    std::string all;
    for (int i = 0; i < 256 * 3; ++i) all += static_cast<char>(i);
    std::string text = Base64Encode(all);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    auto back = Base64Decode(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(back->data()), back->size()), all);
}

TEST(Base64, DecodesByTheSextetRules) {
    struct Case {
        const char *name;
        std::string text;
        std::optional<std::string> bytes;
    };
    std::string wrapped;
    std::string long_(300, 'x');
    std::string encoded = Base64Encode(long_);
    for (size_t i = 0; i < encoded.size(); i += 76) wrapped += encoded.substr(i, 76) + "\r\n";
    const Case cases[] = {
        {"one byte", "QQ==", std::string("A")},
        {"two sextets", "QQ", std::nullopt},
        {"three sextets", "QQ=", std::nullopt},
        {"empty", "", std::nullopt},
        {"only blanks", " \r\n\t", std::nullopt},
        {"three pads", "Q===", std::nullopt},
        {"four pads", "QUJD====", std::nullopt},
        {"blanks anywhere", " Q U\nJ\tD ", std::string("ABC")},
        {"foreign characters skipped", "QU*J.D!", std::string("ABC")},
        {"two groups", "QUJDRA==", std::string("ABCD")},
        {"lines of 76", wrapped, long_},
        {"pad in the middle is a zero sextet", "QQ==QUJD", std::string("A\0\0A", 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = Base64Decode(c.text);
        ASSERT_EQ(bytes.has_value(), c.bytes.has_value());
        if (bytes) {
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes->data()), bytes->size()), *c.bytes);
        }
        // The same text in pieces of every size, so groups, pads and held bytes cross the pieces.
        for (size_t piece = 1; piece <= 9; ++piece) {
            std::string streamed;
            Base64Decoder decoder([&](const uint8_t *data, size_t size) {
                streamed.append(reinterpret_cast<const char *>(data), size);
            });
            for (size_t at = 0; at < c.text.size(); at += piece) decoder.Feed(std::string_view(c.text).substr(at, piece));
            bool decoded = decoder.Finish();
            EXPECT_EQ(decoded, c.bytes.has_value()) << "pieces of " << piece;
            if (decoded && c.bytes) EXPECT_EQ(streamed, *c.bytes) << "pieces of " << piece;
        }
    }
}

TEST(Base64, DecoderOnALargeTextSendsEverythingButTheLastBytesAsItGoes) {
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
    std::string text = Base64Encode(bytes.substr(0, bytes.size() - 1));  // ends with one pad
    std::string streamed;
    size_t calls = 0;
    Base64Decoder decoder([&](const uint8_t *data, size_t size) {
        streamed.append(reinterpret_cast<const char *>(data), size);
        ++calls;
    });
    decoder.Feed(text);
    EXPECT_GT(calls, 1u);
    EXPECT_EQ(streamed.size(), text.size() / 4 * 3 - 2);  // two bytes wait for the end
    ASSERT_TRUE(decoder.Finish());
    EXPECT_EQ(streamed, bytes.substr(0, bytes.size() - 1));
}

TEST(ContentTemplate, ArgumentsByPositionEscapedOnce) {
    EXPECT_EQ(FillContentTemplate("{0}{1}{0}", {std::string("a&b"), std::string("c")}), "a&amp;bca&amp;b");
    EXPECT_EQ(FillContentTemplate("<product>{0}</product><version>{1}</version>",
                                  {std::string("Zolm"), std::string("00000001")}),
              "<product>Zolm</product><version>00000001</version>");
    EXPECT_EQ(XmlEscape("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;");
    // An argument's text is never read as a placeholder itself.
    EXPECT_EQ(FillContentTemplate("{0}-{1}", {std::string("{1}"), std::string("x")}), "{1}-x");
    // Placeholders without an argument, and braces that are no placeholders, stay.
    EXPECT_EQ(FillContentTemplate("{2}{x}{}{0", {std::string("a")}), "{2}{x}{}{0");
    EXPECT_EQ(FillContentTemplate("{0}|{1}|{2}|{3}|{4}", {int32_t(-7), int64_t(1) << 40, true, false, 2.5}),
              "-7|1099511627776|true|false|2.5000");
    std::vector<XmlRpcArgument> eleven(11, std::string("a"));
    eleven[10] = std::string("ten");
    EXPECT_EQ(FillContentTemplate("{1}{10}", eleven), "aten");
}

TEST(RequestDocuments, IdentifiersAndDocumentsAsSent) {
    std::string id = NewRequestId();
    EXPECT_THAT(id, MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
    EXPECT_NE(NewRequestId(), id);
    EXPECT_EQ(RequestDocument("M.N", "ID", "<a>я</a>"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><request type=\"M.N\" id=\"ID\"><a>я</a></request>");
    EXPECT_EQ(Envelope("M.N", "QUJD"),
              "<?xml version=\"1.0\"?><methodCall><methodName>M.N</methodName><params><param><value><string>QUJD"
              "</string></value></param></params></methodCall>");
}

TEST(ParseXmlBytes, EncodingFromTheDocumentItself) {
    struct Case {
        const char *name;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-8 by default", "<a>Привет</a>"},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF<a>Привет</a>"},
        {"windows-1251 declared", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xCF\xF0\xE8\xE2\xE5\xF2</a>"},
        {"UTF-16LE with a byte-order mark",
         std::string("\xFF\xFE<\0a\0>\0\x1F\x04\x40\x04\x38\x04\x32\x04\x35\x04\x42\x04<\0/\0a\0>\0", 28)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason;
        XmlDocument doc = ParseXmlBytes(c.bytes.data(), c.bytes.size(), reason);
        ASSERT_TRUE(doc) << reason;
        EXPECT_EQ(reason, "");
        auto a = doc.SelectSingleNode("/a");
        ASSERT_TRUE(a);
        EXPECT_EQ(a->Text(), "Привет");
        EXPECT_EQ(a->LocalName(), "a");
    }
}

TEST(ParseXmlBytes, FailuresGiveTheParsersReason) {
    for (std::string bytes : {std::string(), std::string("not xml"), std::string("<a><b></a>"), std::string("<a/><b/>"),
                              std::string("<a>\xff\xfe</a>")}) {
        SCOPED_TRACE(bytes);
        std::string reason;
        EXPECT_FALSE(ParseXmlBytes(bytes.data(), bytes.size(), reason));
        EXPECT_NE(reason, "");
    }
    std::string reason;
    EXPECT_FALSE(ParseXmlBytes("<a>", 3, reason));
    EXPECT_THAT(reason, HasSubstr("line 1"));
}

TEST(ParseXmlBytes, DocumentTypesAreRefusedSoNoEntityIsLoadedOrExpanded) {
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string ten;
            for (int j = 0; j < 10; ++j) ten += "&l" + std::to_string(i - 1) + ";";
            return ten;
        }() + "\">";
    laughs += "]><a b=\"&l9;\">&l9;</a>";
    for (const std::string &bytes : {std::string("<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>"),
                                     std::string("<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/a.dtd\"><a/>"), laughs}) {
        std::string reason;
        EXPECT_FALSE(ParseXmlBytes(bytes.data(), bytes.size(), reason));
        EXPECT_EQ(reason, "a document type declaration (DOCTYPE) is not allowed");
    }
}

}  // namespace

namespace {

// The bytes handed to the parser's reader at most piece at a time.
std::string ReadInPieces(const std::string &bytes, size_t piece, std::string &reason, bool &ok) {
    size_t at = 0;
    XmlDocument doc = XmlStreamParser().ParseFrom(
        [&](char *buffer, int size) {
            size_t take = std::min({piece, static_cast<size_t>(size), bytes.size() - at});
            std::memcpy(buffer, bytes.data() + at, take);
            at += take;
            return static_cast<int>(take);
        },
        reason);
    ok = static_cast<bool>(doc);
    return doc ? doc.Node().Text() : std::string();
}

}  // namespace

TEST(XmlStreamParser, AReaderGivingSmallPiecesReadsTheSameDocumentsAsTheWholeBytes) {
    const std::string documents[] = {
        "<a>Привет<b x=\"1\">мир</b></a>",
        "\xEF\xBB\xBF<a>bom</a>",
        std::string("\xFF\xFE<\0a\0>\0\x1F\x04<\0/\0a\0>\0", 16),
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xCF\xF0</a>",
        "", "not xml", "<a><b></a>", "<a>", "<!DOCTYPE a><a/>",
    };
    for (const std::string &bytes : documents) {
        SCOPED_TRACE(bytes);
        std::string reason;
        XmlDocument whole = ParseXmlBytes(bytes.data(), bytes.size(), reason);
        for (size_t piece : {size_t{1}, size_t{3}, size_t{1000}}) {
            std::string pieceReason;
            bool ok = false;
            std::string text = ReadInPieces(bytes, piece, pieceReason, ok);
            EXPECT_EQ(ok, static_cast<bool>(whole)) << "pieces of " << piece;
            if (whole) EXPECT_EQ(text, whole.Node().Text());
            EXPECT_EQ(pieceReason, reason);
        }
    }
}

TEST(XmlStreamParser, TextOfTheFirstElementOnThePathGoesToTheCallback) {
    const std::vector<std::string> path = {"m", "p", "q", "v"};
    struct Case {
        const char *name;
        std::string document;
        bool diverted;
        std::string text;  // what the callback got
        std::string rest;  // the text left in the document
    } cases[] = {
        {"plain", "<m><p><q><v>abc</v></q></p></m>", true, "abc", ""},
        {"nested, CDATA and references", "<m><p><q><v><s>ab</s>c<![CDATA[d]]>&amp;&#65;</v></q></p></m>", true,
         "abcd&A", ""},
        {"the first one only", "<m><p><q><v>1</v><v>2</v></q><q><v>3</v></q></p></m>", true, "1", "23"},
        {"text around stays", "<m>t<p>u<q>w<v>1</v>x</q></p></m>", true, "1", "tuwx"},
        {"another root", "<x><p><q><v>1</v></q></p></x>", false, "", "1"},
        {"one level deeper", "<m><p><z><q><v>1</v></q></z></p></m>", false, "", "1"},
        {"in a namespace", "<m xmlns=\"urn:x\"><p><q><v>1</v></q></p></m>", false, "", "1"},
        {"empty element", "<m><p><q><v/></q></p></m>", true, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool byteByByte : {false, true}) {
            std::string text, reason;
            XmlStreamParser parser;
            parser.DivertText(path, [&](std::string_view piece) { text += piece; });
            XmlDocument doc;
            if (byteByByte) {
                size_t at = 0;
                doc = parser.ParseFrom(
                    [&](char *buffer, int) {
                        if (at == c.document.size()) return 0;
                        buffer[0] = c.document[at++];
                        return 1;
                    },
                    reason);
            } else {
                doc = parser.ParseAll(c.document.data(), c.document.size(), reason);
            }
            ASSERT_TRUE(doc) << reason;
            EXPECT_EQ(parser.Diverted(), c.diverted);
            EXPECT_EQ(text, c.text);
            EXPECT_EQ(doc.Node().Text(), c.rest);
            // The element itself stays, for the checks made on the tree.
            EXPECT_EQ(c.diverted, doc.SelectSingleNode("/m/p/q/v").has_value());
        }
    }
}

TEST(XmlStreamParser, FailuresOfCallbacksAndReadersComeOutOfTheParse) {
    std::string reason;
    XmlStreamParser diverting;
    diverting.DivertText({"a"}, [](std::string_view) { throw std::runtime_error("sink failed"); });
    const std::string document = "<a>text</a>";
    EXPECT_THROW(diverting.ParseAll(document.data(), document.size(), reason), std::runtime_error);

    XmlStreamParser reading;
    EXPECT_THROW(reading.ParseFrom([](char *, int) -> int { throw std::bad_alloc(); }, reason), std::bad_alloc);

    // A reader that gives up ends the parse with a reason.
    XmlStreamParser givingUp;
    int calls = 0;
    XmlDocument doc = givingUp.ParseFrom(
        [&](char *buffer, int) {
            if (calls++ > 0) return -1;
            std::memcpy(buffer, "<a>", 3);
            return 3;
        },
        reason);
    EXPECT_FALSE(doc);
    EXPECT_NE(reason, "");
}

TEST(ReadXmlRpcAnswer, TheThreadedWayEndsAsTheOtherOne) {
    // Small answers read the threaded way, as large ones are: every ending must be the same.
    const std::string id = "0F0F0F0F-1234-5678-9ABC-DEF012345678";
    auto wrap = [](const std::string &inner) { return zolm::starter::testing::MethodResponse(inner); };
    const std::string good = "<response type=\"M\" request-id=\"" + id + "\" id=\"1\"><patch/></response>";
    const std::string bodies[] = {
        wrap(good),
        wrap("<response type=\"M\" request-id=\"" + id + "\" id=\"1\"><errors><error>e1</error></errors></response>"),
        wrap("<response type=\"M\" request-id=\"other\" id=\"1\"/>"),
        wrap("<response type=\"M\""),
        wrap(""),
        wrap("\xFF\xFE<\0r\0/\0>\0"),
        "<methodResponse><params><param><value>QQ</value></param></params></methodResponse>",
        "<methodResponse><params><param><value>" + Base64Encode(good) + "</value></param></params>",
        "<methodResponse><fault><value><struct/></value></fault></methodResponse>",
        "<methodResponse/>",
        "",
    };
    auto ending = [&](const std::string &body, size_t threadedFrom) {
        bool released = false;
        std::string result;
        try {
            XmlDocument doc = ReadXmlRpcAnswer(200, "Content-Type: text/xml", body, [&] { released = true; }, "M", id,
                                               threadedFrom);
            result = "document " + doc.Node().Text();
        } catch (const StarterError &e) {
            result = e.what();
        }
        EXPECT_TRUE(released);
        return result;
    };
    for (const std::string &body : bodies) {
        SCOPED_TRACE(body);
        EXPECT_EQ(ending(body, 0), ending(body, kThreadedInnerFrom));
    }
    EXPECT_EQ(ending(bodies[0], 0), "document ");
}
