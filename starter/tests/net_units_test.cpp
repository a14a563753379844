// The starter's network pieces without a network: URL splitting, HTTP dates and the clock arithmetic,
// base64, the content template, the XML parser's encodings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "starter/base64.h"
#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "starter/start_probe.h"
#include "starter/starter_error.h"
#include "starter/time_tools.h"
#include "starter/xml_document.h"

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
    }
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
