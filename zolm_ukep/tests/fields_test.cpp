// The certificate line's fields: Base64, the subject JSON and short name, the issuer's name, the layout.
#include <gtest/gtest.h>

#include "zolm_ukep/certificate_fields.h"

namespace ukep {
namespace {

using softcsp::DecodedName;

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char *, const char *> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {" ", "IA=="},
        {"\xff\xfe\xfd", "//79"},
    };
    for (const auto &[in, out] : cases) EXPECT_EQ(Base64(in), out) << in;
}

TEST(SubjectJson, CommonNameOnly) {
    SubjectFields f = DescribeSubject({{{"2.5.4.3", "Test"}}});
    EXPECT_EQ(f.json, R"([{"OID":"commonName","OIDCODE":"2.5.4.3","VALUE":"Test"}])");
    EXPECT_EQ(f.shortName, " ");
}

TEST(SubjectJson, NoAttributes) {
    SubjectFields f = DescribeSubject({});
    EXPECT_EQ(f.json, "[]");
    EXPECT_EQ(f.shortName, " ");
}

TEST(SubjectJson, QuotesEscapedBackslashesAndControlsUnchanged) {
    SubjectFields f = DescribeSubject({{{"2.5.4.10", "ООО \"Ромашка\""}}, {{"2.5.4.11", "a\\b\tc"}}});
    EXPECT_EQ(f.json,
              "[{\"OID\":\"organizationName\",\"OIDCODE\":\"2.5.4.10\",\"VALUE\":\"ООО \\\"Ромашка\\\"\"},"
              "{\"OID\":\"organizationalUnitName\",\"OIDCODE\":\"2.5.4.11\",\"VALUE\":\"a\\b\tc\"}]");
}

TEST(SubjectJson, NamesOfTheTableAndUnknownOids) {
    const std::pair<const char *, const char *> cases[] = {
        {"1.2.643.100.5", "ORGNIP"},
        {"1.2.643.100.3", "SNILS"},
        {"1.2.643.3.131.1.1", "INN"},
        {"1.2.643.3.141.1.2", "KP_FSS"},
        {"1.2.840.113549.1.9.2", "unstructuredName"},
        {"1.2.3.4.5", "1.2.3.4.5"},
        {"2.5.4.97", "2.5.4.97"},
    };
    for (const auto &[oid, name] : cases)
        EXPECT_EQ(DescribeSubject({{{oid, "v"}}}).json,
                  std::string(R"([{"OID":")") + name + R"(","OIDCODE":")" + oid + R"(","VALUE":"v"}])");
}

TEST(SubjectJson, ShortNameLastOccurrenceWinsAndMultiValuedRdnsKeepOrder) {
    DecodedName name = {{{"2.5.4.4", "Старая"}, {"2.5.4.42", "Анна"}}, {{"2.5.4.4", "Иванова"}}};
    SubjectFields f = DescribeSubject(name);
    EXPECT_EQ(f.shortName, "Иванова Анна");
    EXPECT_EQ(f.json, R"([{"OID":"surname","OIDCODE":"2.5.4.4","VALUE":"Старая"},)"
                      R"({"OID":"givenName","OIDCODE":"2.5.4.42","VALUE":"Анна"},)"
                      R"({"OID":"surname","OIDCODE":"2.5.4.4","VALUE":"Иванова"}])");
    EXPECT_EQ(DescribeSubject({{{"2.5.4.4", "Петров"}}}).shortName, "Петров ");
    EXPECT_EQ(DescribeSubject({{{"2.5.4.42", "Пётр"}}}).shortName, " Пётр");
}

TEST(IssuerName, LastRdnWinsFirstAttributeWithinAnRdn) {
    EXPECT_EQ(IssuerCommonName({{{"2.5.4.3", "Root"}}, {{"2.5.4.10", "Org"}}, {{"2.5.4.3", "Sub CA"}}}), "Sub CA");
    EXPECT_EQ(IssuerCommonName({{{"2.5.4.3", "First"}, {"2.5.4.3", "Second"}}}), "First");
    EXPECT_EQ(IssuerCommonName({{{"2.5.4.10", "Org"}}}), "");
}

TEST(CertificateLine, ExactLayout) {
    CertificateLineFields f{"0123456789ABCDEF0123456789ABCDEF01234567",
                            "Test",
                            "[]",
                            " ",
                            "",
                            0x01D4A7B3'00C0FFEEull,
                            0x0000000A'0000000Bull};
    EXPECT_EQ(CertificateLine(f),
              "0123456789ABCDEF0123456789ABCDEF01234567:VGVzdA==|01D4A7B300C0FFEE0000000A0000000B|W10=|IA==|");
    softcsp::Bytes digest(20, 0);
    digest[0] = 0x0A;
    digest[19] = 0xF1;
    EXPECT_EQ(HexId(digest), "0A" + std::string(36, '0') + "F1");
    EXPECT_EQ(HexId(softcsp::Bytes(19, 0)), "");
}

}  // namespace
}  // namespace ukep
