// Reading request templates: records from good documents, the XML library's exact texts for bad ones.
#include <gtest/gtest.h>

#include <string>

#include "common/request_template.h"
#include "common/result.h"

using zolm::ReadRequestTemplate;
using zolm::RequestTemplate;

namespace {

const std::string kTool = "<SubjectSignTool><SignTool>T</SignTool></SubjectSignTool>";

// A template with the required elements around the given contents.
std::string Doc(const std::string &subject, const std::string &extensions = "", const std::string &algorithm = "") {
    return "<response>" + kTool + "<Subject>" + subject + "</Subject><Extensions>" + extensions +
           "</Extensions><SignAlgorithm>" + algorithm + "</SignAlgorithm></response>";
}

std::string Oid(const std::string &key, const std::string &value) {
    return "<OID><Key>" + key + "</Key><Value>" + value + "</Value></OID>";
}

std::string SubjectOid(const std::string &order, const std::string &key, const std::string &value) {
    return "<OID order=\"" + order + "\"><Key>" + key + "</Key><Value>" + value + "</Value></OID>";
}

std::string Nested(int levels, const std::string &inside = "") {
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
        open += "<n>" + inside;
        close += "</n>";
    }
    return open + close;
}

// Markup that looks like tags but is a comment, character data or an attribute value.
const std::string kFakeTags = "<!--</n><n>--><![CDATA[</n><n>]]><x a='</n>' b=\"<n>\"/><?pi </n>?>";

// One line per record, every field in order, so a table can state the whole expected record.
std::string Describe(const RequestTemplate &t) {
    std::string s = "tool=" + t.signTool + "|subject=";
    for (const auto &e : t.subject) s += "[" + std::to_string(e.order) + ":" + e.key + "=" + e.value + "]";
    s += "|ku=" + std::to_string(t.keyUsageCritical) + ":";
    for (const auto &f : t.keyUsage) s += "[" + f + "]";
    auto oids = [&s](const char *name, bool critical, const std::vector<zolm::OidEntry> &list) {
        s += std::string("|") + name + "=" + std::to_string(critical) + ":";
        for (const auto &e : list) s += "[" + e.key + "=" + e.value + "]";
    };
    oids("eku", t.extendedKeyUsageCritical, t.extendedKeyUsage);
    oids("pol", t.policiesCritical, t.policies);
    s += "|alg=" + t.signAlgorithm.key + "=" + t.signAlgorithm.value;
    s += "|bc=" + std::to_string(t.basicConstraintsCritical) + ":" + std::to_string(t.basicConstraintsCA);
    return s;
}

// The error text the calling export would return.
std::string ErrorOf(const std::string &document) {
    char *text = zolm::ResultOf([&] { ReadRequestTemplate(document.c_str()); });
    if (text == nullptr) return "<read>";
    std::string copy(text);
    zolm::ReleaseBlock(text, copy.size() + 1);
    return copy;
}

struct ReadCase {
    const char *name;
    std::string document;
    std::string record;
};

const std::string kEmpty = "tool=T|subject=|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1";

const ReadCase kReadCases[] = {
    {"only the required elements", Doc(""), kEmpty},
    {"subject sorted by order",
     Doc(SubjectOid("3", "2.5.4.3", "c") + SubjectOid("1", "2.5.4.6", "RU") + SubjectOid("2", "2.5.4.10", "b")),
     "tool=T|subject=[1:2.5.4.6=RU][2:2.5.4.10=b][3:2.5.4.3=c]|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1"},
    {"signed orders with blanks",
     Doc(SubjectOid(" 2 ", "a", "x") + SubjectOid("-7", "b", "y") + SubjectOid("+0", "c", "z")),
     "tool=T|subject=[-7:b=y][0:c=z][2:a=x]|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1"},
    {"blanks kept in texts", "<response><SubjectSignTool><SignTool> tool </SignTool></SubjectSignTool><Subject>" +
                                 SubjectOid("1", " 2.5.4.3", "  Ivan Petrov \n") +
                                 "</Subject><Extensions/><SignAlgorithm/></response>",
     "tool= tool |subject=[1: 2.5.4.3=  Ivan Petrov \n]|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1"},
    {"other children, comments and entities",
     Doc("<!-- c --><Name>x</Name>" + SubjectOid("1", "CN", "a<!--c-->b &lt;&amp;&gt; <![CDATA[<c>]]>"),
         "<Other critical='true'><OID><Key>k</Key></OID></Other>"),
     "tool=T|subject=[1:CN=ab <&> <c>]|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1"},
    {"all extensions",
     Doc(SubjectOid("1", "2.5.4.3", "n"),
         "<BasicKeyUsage critical='true'><Flag>digitalSignature</Flag><Flag>keyEncipherment</Flag></BasicKeyUsage>"
         "<ExtendedKeyUsage critical='1'>" + Oid("1.3.6.1.5.5.7.3.2", "client") + "<X/>" + Oid("1.3.6.1.5.5.7.3.4", "mail") +
         "</ExtendedKeyUsage><CertificatePolicies>" + Oid("1.2.643.100.113.1", "KC1") + "</CertificatePolicies>"
         "<BasicConstraints critical='true' ca='true'/>",
         Oid("1.2.643.7.1.1.3.2", "GOST 2012")),
     "tool=T|subject=[1:2.5.4.3=n]|ku=1:[digitalSignature][keyEncipherment]|eku=1:[1.3.6.1.5.5.7.3.2=client]"
     "[1.3.6.1.5.5.7.3.4=mail]|pol=0:[1.2.643.100.113.1=KC1]|alg=1.2.643.7.1.1.3.2=GOST 2012|bc=1:1"},
    {"repeated elements append, last critical flag wins",
     Doc("", "<BasicKeyUsage critical='true'><Flag>a</Flag></BasicKeyUsage><BasicKeyUsage><Flag>b</Flag></BasicKeyUsage>"
             "<CertificatePolicies>" + Oid("1", "x") + "</CertificatePolicies><CertificatePolicies critical='true'>" +
             Oid("2", "y") + "</CertificatePolicies>"),
     "tool=T|subject=|ku=0:[a][b]|eku=0:|pol=1:[1=x][2=y]|alg==|bc=0:-1"},
    {"basic constraints ca 0", Doc("", "<BasicConstraints ca='0'/>"), "tool=T|subject=|ku=0:|eku=0:|pol=0:|alg==|bc=0:0"},
    {"basic constraints without ca", Doc("", "<BasicConstraints critical='1'></BasicConstraints>"),
     "tool=T|subject=|ku=0:|eku=0:|pol=0:|alg==|bc=1:0"},
    {"last sign algorithm wins", Doc("", "", Oid("1.2.643.2.2.3", "2001") + "<Other/>" + Oid("1.2.643.7.1.1.3.3", "2012-512")),
     "tool=T|subject=|ku=0:|eku=0:|pol=0:|alg=1.2.643.7.1.1.3.3=2012-512|bc=0:-1"},
    {"declaration, BOM and surroundings", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<!DOCTYPE r [<!ENTITY a 'b'>]>\n" +
                                              Doc("") + "\n<!-- trailer -->\n",
     kEmpty},
    {"nesting at the limit", Doc("<X>" + Nested(zolm::kTemplateMaxDepth - 3) + "</X>"), kEmpty},
    {"tags inside other markup do not nest", Doc("<X>" + Nested(zolm::kTemplateMaxDepth - 3, kFakeTags + kFakeTags) + "</X>"),
     kEmpty},
};

class ReadTemplate : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTemplate, GivesTheRecord) {
    EXPECT_EQ(Describe(ReadRequestTemplate(GetParam().document.c_str())), GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(Documents, ReadTemplate, ::testing::ValuesIn(kReadCases),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(ReadTemplate, CriticalFlagIsLowerCaseTrueOrOneOnly) {
    struct Case {
        const char *attribute;
        bool critical;
    } cases[] = {{"critical='true'", true}, {"critical='1'", true},     {"critical=' true\t'", true},
                 {"critical='TRUE'", false}, {"critical='yes'", false}, {"critical='True'", false},
                 {"critical='0'", false},   {"critical='false'", false}, {"critical=''", false},
                 {"", false},               {"critical='2'", false},   {"critical='1 1'", false}};
    for (const auto &c : cases) {
        auto t = ReadRequestTemplate(Doc("", std::string("<ExtendedKeyUsage ") + c.attribute + "/>" +
                                                 "<BasicConstraints ca" + (c.attribute[0] ? c.attribute + 8 : "='x'") + "/>")
                                         .c_str());
        EXPECT_EQ(t.extendedKeyUsageCritical, c.critical) << c.attribute;
        EXPECT_EQ(t.basicConstraintsCA, c.critical ? 1 : 0) << c.attribute;
    }
}

TEST(ReadTemplate, NullTextIsTheEmptyRecord) {
    RequestTemplate t = ReadRequestTemplate(nullptr);
    EXPECT_EQ(Describe(t), "tool=|subject=|ku=0:|eku=0:|pol=0:|alg==|bc=0:-1");
}

struct ErrorCase {
    const char *name;
    std::string document;
    std::string error;
};

const std::string kSubjectAndRest =
    "<Subject/><Extensions/><SignAlgorithm/></response>";

const ErrorCase kErrorCases[] = {
    // Not well-formed: the parser's message and the line of the fault.
    {"unclosed start tag", "<response", "<unspecified file>(1): expected >"},
    {"bad end tag", "<response></response", "<unspecified file>(1): expected >"},
    {"missing element name", "<response><", "<unspecified file>(1): expected element name"},
    {"attribute without value", "<response><a b></a></response>", "<unspecified file>(1): expected ="},
    {"unquoted attribute", "<response><a b=1/></response>", "<unspecified file>(1): expected ' or \""},
    {"unterminated attribute", "<response><a b='1></a></response>", "<unspecified file>(1): expected ' or \""},
    {"bad character reference", "<response>&#xZZ;</response>", "<unspecified file>(1): expected ;"},
    {"character reference out of range", "<response>&#1114112;</response>",
     "<unspecified file>(1): invalid numeric character entity"},
    {"truncated document", "<response><Subject>", "<unspecified file>(1): unexpected end of data"},
    {"unclosed comment", "<response><!-- x", "<unspecified file>(1): unexpected end of data"},
    {"text before the root", "x<response/>", "<unspecified file>(1): expected <"},
    {"line counts line feeds", "<response>\n\n<a b></a></response>", "<unspecified file>(3): expected ="},
    {"nesting beyond the limit", "<response>\n" + Nested(zolm::kTemplateMaxDepth) + "</response>",
     "<unspecified file>(2): elements nested deeper than 100 levels"},
    {"nesting beyond the limit among fake closing tags", Doc(Nested(zolm::kTemplateMaxDepth, kFakeTags)),
     "<unspecified file>(1): elements nested deeper than 100 levels"},
    // Required parts missing: the path as the reader asks for it.
    {"empty text", "", "No such node (response.SubjectSignTool.SignTool)"},
    {"other root", "<Response>" + kTool + kSubjectAndRest, "No such node (response.SubjectSignTool.SignTool)"},
    {"no sign tool, checked before the subject", "<response><Extensions/><SignAlgorithm/></response>",
     "No such node (response.SubjectSignTool.SignTool)"},
    {"sign tool element empty of SignTool", "<response><SubjectSignTool/>" + kSubjectAndRest,
     "No such node (response.SubjectSignTool.SignTool)"},
    {"no subject", "<response>" + kTool + "<Extensions/><SignAlgorithm/></response>", "No such node (response.Subject)"},
    {"no extensions", "<response>" + kTool + "<Subject/><SignAlgorithm/></response>",
     "No such node (response.Extensions)"},
    {"no sign algorithm", "<response>" + kTool + "<Subject>" + SubjectOid("1", "a", "b") +
                              "</Subject><Extensions><BasicConstraints ca='1'/></Extensions></response>",
     "No such node (response.SignAlgorithm)"},
    {"subject OID without order", Doc("<OID><Key>a</Key><Value>b</Value></OID>"), "No such node (<xmlattr>.order)"},
    {"subject OID without key", Doc("<OID order='1'><Value>b</Value></OID>"), "No such node (Key)"},
    {"subject OID without value", Doc("<OID order='1'><Key>a</Key></OID>"), "No such node (Value)"},
    {"policy OID without value", Doc("", "<CertificatePolicies><OID><Key>a</Key></OID></CertificatePolicies>"),
     "No such node (Value)"},
    {"usage OID without key", Doc("", "<ExtendedKeyUsage><OID><Value>a</Value></OID></ExtendedKeyUsage>"),
     "No such node (Key)"},
    {"sign algorithm OID without key", Doc("", "", "<OID><Value>a</Value></OID>"), "No such node (Key)"},
    // An order that is not an integer.
    {"order not a number", Doc(SubjectOid("first", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order with trailing text", Doc(SubjectOid("1x", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order empty", Doc(SubjectOid("", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order fractional", Doc(SubjectOid("1.5", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order sign alone", Doc(SubjectOid("+", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order with two signs", Doc(SubjectOid("+-1", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order with a blank after the sign", Doc(SubjectOid("- 1", "a", "b")), "conversion of data to type \"int\" failed"},
    {"order beyond 32 bits", Doc(SubjectOid("4294967296", "a", "b")), "conversion of data to type \"int\" failed"},
};

class ReadTemplateError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReadTemplateError, GivesTheLibraryText) { EXPECT_EQ(ErrorOf(GetParam().document), GetParam().error); }

INSTANTIATE_TEST_SUITE_P(Documents, ReadTemplateError, ::testing::ValuesIn(kErrorCases),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
