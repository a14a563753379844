// The plug-in's own encodings: CryptoAPI failure texts, PEM armour, the request's DER parts.
#include <gtest/gtest.h>

#include <cstring>

#include "common/formatted_exception.h"
#include "zolm_cp_cryptopro/cryptoapi_error.h"
#include "zolm_cp_cryptopro/pem.h"
#include "zolm_cp_cryptopro/request_der.h"
#include "zolm_cp_cryptopro/tests/text_match.h"

using namespace cryptopro;

namespace {

std::string FailureText(const char *operation, uint32_t code) {
    try {
        CRYPTOAPI_FAILURE(operation, code);
    } catch (const formatted_exception &e) {
        return e.what();
    }
    return "";
}

std::string Hex(const Bytes &bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) text += std::string{kHex[b >> 4], kHex[b & 15]};
    return text;
}

TEST(CryptoApiFailure, CodesWithAndWithoutTheHexPart) {
    struct Case {
        uint32_t code;
        const char *head;
    } cases[] = {
        {2, "CryptAcquireContext() failed, GetLastError=2"},
        {0x80090016, "CryptAcquireContext() failed, GetLastError=2148073494/0x80090016"},
        {0x7FFFFFFF, "CryptAcquireContext() failed, GetLastError=2147483647"},
        {0x80000000, "CryptAcquireContext() failed, GetLastError=2147483648/0x80000000"},
    };
    for (const auto &c : cases) {
        std::string text = FailureText("CryptAcquireContext", c.code);
        EXPECT_TRUE(cryptopro::testing::IsFailureText(text, c.head, "encoding_test.cpp")) << text;
    }
}

TEST(PemArmour, LinesOf64AndTheSizeLimit) {
    Bytes hundred(100, 0xAB);
    std::string pem = PemArmour(hundred, "CERTIFICATE REQUEST");
    std::string body = Base64(hundred.data(), hundred.size());
    ASSERT_EQ(body.size(), 136u);
    EXPECT_EQ(pem, "-----BEGIN CERTIFICATE REQUEST-----\n" + body.substr(0, 64) + "\n" + body.substr(64, 64) + "\n" +
                       body.substr(128) + "\n-----END CERTIFICATE REQUEST-----\n");
    EXPECT_NO_THROW(PemArmour(Bytes(2048, 1), "CERTIFICATE REQUEST"));
    try {
        PemArmour(Bytes(2049, 1), "CERTIFICATE REQUEST");
        FAIL() << "no overflow";
    } catch (const formatted_exception &e) {
        EXPECT_STREQ(e.what(), "PEM buffer overflow");
    }
}

TEST(PemArmour, Base64PaddingAndRoundTrip) {
    struct Case {
        std::string data, base64;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xff\xfe\xfd\xfc", "//79/A=="}};
    for (const auto &c : cases) {
        EXPECT_EQ(Base64(reinterpret_cast<const uint8_t *>(c.data.data()), c.data.size()), c.base64) << c.data;
        if (c.data.empty()) continue;
        Bytes back;
        ASSERT_TRUE(PemToDer(PemArmour(Bytes(c.data.begin(), c.data.end()), "X"), &back));
        EXPECT_EQ(std::string(back.begin(), back.end()), c.data);
    }
    Bytes der;
    EXPECT_FALSE(PemToDer("MIIB", &der));  // no BEGIN and END lines
    EXPECT_FALSE(PemToDer("-----BEGIN X-----\nMI*B\n-----END X-----\n", &der));
}

TEST(RequestDer, KeyUsageBitsAndTheirEncoding) {
    struct Case {
        std::vector<std::string> names;
        uint8_t bits;
        const char *extension;  // trailing zero bits are not encoded
    } cases[] = {
        {{"digitalSignature", "nonRepudiation"}, 0xC0, "300E0603551D0F0101FF0404030206C0"},
        {{"DigitalSignature", "keyAgreement"}, 0x00, "300D0603551D0F0101FF0403030100"},
        {{"keyEncipherment", "dataEncipherment"}, 0x30, "300E0603551D0F0101FF040403020430"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(KeyUsageBits(c.names), c.bits);
        RequestContent content;
        content.keyUsageCritical = true;
        content.keyUsage = c.names;
        EXPECT_EQ(Hex(EncodeExtensions(content)).substr(4, std::strlen(c.extension)), c.extension);
    }
}

TEST(RequestDer, FourExtensionsInOrder) {
    RequestContent content;
    content.keyUsage = {"digitalSignature"};
    // Without EKU and policy elements both extensions are still there, empty; false criticality is
    // not encoded.
    EXPECT_EQ(Hex(EncodeExtensions(content)),
              "3030"
              "300B0603551D0F040403020780"
              "30090603551D2504023000"
              "30090603551D2004023000"
              "300B06052A8503646F04020C00");
    content.extendedKeyUsageCritical = true;
    content.extendedKeyUsage = {"1.3.6.1.5.5.7.3.2"};
    content.policiesCritical = true;
    content.policies = {"1.2.643.100.113.1"};
    content.signTool = "СКЗИ";
    EXPECT_EQ(Hex(EncodeExtensions(content)),
              "3052"
              "300B0603551D0F040403020780"
              "30160603551D250101FF040C300A06082B06010505070302"
              "30160603551D200101FF040C300A300806062A8503647101"
              "301306052A8503646F040A0C08D0A1D09AD097D098");
}

TEST(RequestDer, SubjectAsUtf8Rdns) {
    std::string der = Hex(EncodeSubject({{"2.5.4.3", "Иван"}, {"1.2.643.100.3", "123"}}));
    EXPECT_EQ(der,
              "3023"
              "3111300F0603550403"
              "0C08D098D0B2D0B0D0BD"
              "310E300C06052A85036403"
              "0C03313233");
    EXPECT_EQ(Hex(EncodeSubject({})), "3000");
    try {
        EncodeSubject({{"not an oid", "x"}});
        FAIL() << "encoded";
    } catch (const formatted_exception &e) {
        EXPECT_EQ(std::string(e.what()).rfind("CryptEncodeObject() failed, GetLastError=2147942487/0x80070057 (", 0),
                  0u)
            << e.what();
    }
}

TEST(RequestDer, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(AnsiToUtf8("a\xff"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(AnsiToUtf8("\xD0"), "\xEF\xBF\xBD");
    EXPECT_EQ(AnsiToUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong "/"
    EXPECT_EQ(AnsiToUtf8("Тест"), "Тест");
}

TEST(RequestDer, Oids) {
    struct Case {
        const char *text;
        const char *der;  // empty: refused
    } cases[] = {{"2.5.4.3", "0603550403"},
                 {"1.2.643.100.111", "06052A8503646F"},
                 {"1.2.840.113549.1.9.14", "06092A864886F70D01090E"},
                 {"2.999", "06028837"},
                 {"1", ""},
                 {"1.40", ""},
                 {"1..2", ""},
                 {"1.2.x", ""},
                 {"", ""}};
    for (const auto &c : cases) {
        Bytes der;
        bool ok = EncodeOid(c.text, &der);
        EXPECT_EQ(ok, *c.der != '\0') << c.text;
        if (ok) {
            EXPECT_EQ(Hex(der), c.der) << c.text;
        }
    }
}

}  // namespace
