#include "common/request_template.h"

#include <algorithm>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string_view>

namespace zolm {
namespace {

namespace pt = boost::property_tree;

bool IsXmlSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool IsNameChar(char c) { return !(IsXmlSpace(c) || c == '/' || c == '>' || c == '?' || c == '\0'); }
bool IsAttributeNameChar(char c) { return IsNameChar(c) && c != '<' && c != '=' && c != '!'; }

// Skips past `end`; false when the text ends first.
bool SkipPast(const char *&p, const char *end) {
    const char *found = std::strstr(p, end);
    if (found == nullptr) return false;
    p = found + std::strlen(end);
    return true;
}

[[noreturn]] void RaiseTooDeep(const char *text, const char *at) {
    long line = 1 + std::count(text, at, '\n');
    throw pt::xml_parser_error("elements nested deeper than " + std::to_string(kTemplateMaxDepth) + " levels", "",
                               line);
}

// Follows the XML parser's own reading of the text (the same markup rules, without building
// anything) only to learn how deep its recursion would go, and refuses the text if too deep. Where
// the parser would stop with an error this stops too, or reads on where the parser never gets, and
// leaves the error to the parser.
void CheckNestingDepth(const char *text) {
    const char *p = text;
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
    int depth = 0;
    for (;;) {
        if (depth == 0) {
            while (IsXmlSpace(*p)) ++p;
            if (*p != '<') return;  // end of text, or the parser's "expected <"
        } else if (*p != '<') {
            while (*p != '<' && *p != '\0') ++p;  // character data
            if (*p == '\0') return;
            continue;
        } else if (p[1] == '/') {
            p += 2;
            while (IsNameChar(*p)) ++p;
            while (IsXmlSpace(*p)) ++p;
            if (*p != '>') return;
            ++p;
            --depth;
            continue;
        }
        ++p;  // past '<'
        if (*p == '?') {
            if (!SkipPast(++p, "?>")) return;
        } else if (*p == '!') {
            if (std::strncmp(p, "!--", 3) == 0) {
                if (!SkipPast(p += 3, "-->")) return;
            } else if (std::strncmp(p, "![CDATA[", 8) == 0) {
                if (!SkipPast(p += 8, "]]>")) return;
            } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && IsXmlSpace(p[8])) {
                p += 9;
                while (*p != '>') {
                    if (*p == '\0') return;
                    if (*p++ != '[') continue;
                    for (int brackets = 1; brackets > 0; ++p) {
                        if (*p == '\0') return;
                        if (*p == '[') ++brackets;
                        if (*p == ']') --brackets;
                    }
                }
                ++p;
            } else {
                if (!SkipPast(p, ">")) return;
            }
        } else {
            const char *name = p;
            while (IsNameChar(*p)) ++p;
            if (p == name) return;
            while (IsXmlSpace(*p)) ++p;
            while (IsAttributeNameChar(*p)) {
                while (IsAttributeNameChar(*p)) ++p;
                while (IsXmlSpace(*p)) ++p;
                if (*p++ != '=') return;
                while (IsXmlSpace(*p)) ++p;
                char quote = *p++;
                if (quote != '\'' && quote != '"') return;
                while (*p != quote && *p != '\0') ++p;
                if (*p++ != quote) return;
                while (IsXmlSpace(*p)) ++p;
            }
            if (*p == '/' && p[1] == '>') {
                p += 2;
            } else if (*p == '>') {
                ++p;
                if (++depth > kTemplateMaxDepth) RaiseTooDeep(text, p);
            } else {
                return;
            }
        }
    }
}

std::string_view Trimmed(const std::string &text) {
    size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string_view(text.data() + first, last - first);
}

// "1" or "true" is true; "0", "false", anything else or nothing is false. Blanks around are allowed.
bool ReadFlag(const pt::ptree &element, const char *attribute) {
    auto node = element.get_child_optional(std::string("<xmlattr>.") + attribute);
    if (!node) return false;
    std::string_view word = Trimmed(node->data());
    return word == "1" || word == "true";
}

OidEntry ReadOid(const pt::ptree &oid) { return {oid.get<std::string>("Key"), oid.get<std::string>("Value")}; }

// An optionally signed decimal number with blanks around it, as the library's own conversion reads it.
int32_t ReadOrder(const pt::ptree &oid) {
    const pt::ptree &order = oid.get_child("<xmlattr>.order");
    std::string_view digits = Trimmed(order.data());
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
    int32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    // The library names the type with the compiler's type name; its documented wording is "int".
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        throw pt::ptree_bad_data("conversion of data to type \"int\" failed", order.data());
    return value;
}

void AppendOids(const pt::ptree &element, std::vector<OidEntry> &list) {
    for (const auto &child : element)
        if (child.first == "OID") list.push_back(ReadOid(child.second));
}

}  // namespace

RequestTemplate ReadRequestTemplate(const char *text) {
    RequestTemplate result;
    if (text == nullptr) return result;

    CheckNestingDepth(text);
    boost::iostreams::stream<boost::iostreams::array_source> in(text, std::strlen(text));
    pt::ptree tree;
    pt::read_xml(in, tree);  // blanks kept: they belong to the keys and values

    result.signTool = tree.get<std::string>("response.SubjectSignTool.SignTool");

    for (const auto &child : tree.get_child("response.Subject")) {
        if (child.first != "OID") continue;
        const pt::ptree &oid = child.second;
        SubjectEntry entry;
        entry.key = oid.get<std::string>("Key");
        entry.value = oid.get<std::string>("Value");
        entry.order = ReadOrder(oid);
        result.subject.push_back(std::move(entry));
    }
    std::stable_sort(result.subject.begin(), result.subject.end(),
                     [](const SubjectEntry &a, const SubjectEntry &b) { return a.order < b.order; });

    for (const auto &child : tree.get_child("response.Extensions")) {
        const pt::ptree &element = child.second;
        if (child.first == "CertificatePolicies") {
            result.policiesCritical = ReadFlag(element, "critical");
            AppendOids(element, result.policies);
        } else if (child.first == "ExtendedKeyUsage") {
            result.extendedKeyUsageCritical = ReadFlag(element, "critical");
            AppendOids(element, result.extendedKeyUsage);
        } else if (child.first == "BasicKeyUsage") {
            result.keyUsageCritical = ReadFlag(element, "critical");
            for (const auto &flag : element)
                if (flag.first == "Flag") result.keyUsage.push_back(flag.second.data());
        } else if (child.first == "BasicConstraints") {
            result.basicConstraintsCritical = ReadFlag(element, "critical");
            result.basicConstraintsCA = ReadFlag(element, "ca") ? 1 : 0;
        }
    }

    for (const auto &child : tree.get_child("response.SignAlgorithm"))
        if (child.first == "OID") result.signAlgorithm = ReadOid(child.second);
    return result;
}

}  // namespace zolm
