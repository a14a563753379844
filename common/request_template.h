// The certificate request template: the server's XML document read into the record both plug-ins
// build their requests from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolm {

struct SubjectEntry {
    std::string key;  // dotted OID, or an attribute name the plug-in's library accepts
    std::string value;
    int32_t order = 0;
};

struct OidEntry {
    std::string key;    // dotted OID handed to the library
    std::string value;  // descriptive text; no plug-in uses it
};

struct RequestTemplate {
    std::vector<SubjectEntry> subject;  // sorted by order, smallest first
    bool keyUsageCritical = false;
    std::vector<std::string> keyUsage;  // flag names as written (see the key-usage table)
    bool extendedKeyUsageCritical = false;
    std::vector<OidEntry> extendedKeyUsage;
    bool policiesCritical = false;
    std::vector<OidEntry> policies;
    OidEntry signAlgorithm;  // the last one the document names
    std::string signTool;
    bool basicConstraintsCritical = false;
    int32_t basicConstraintsCA = -1;  // -1: no basic constraints; 0: present, not a CA; 1: a CA
};

// Most levels of element nesting a template may have; deeper documents are refused before parsing,
// because the XML parser descends recursively.
constexpr int kTemplateMaxDepth = 100;

// Reads a template text (NUL-terminated, passed on unconverted). A null text gives the empty record.
// Raises the XML library's own exceptions (std::exception), whose what() is the error text:
// "<unspecified file>(LINE): MESSAGE" for text that is not well-formed, "No such node (PATH)" for a
// missing required element or attribute, "conversion of data to type \"int\" failed" for a bad order.
RequestTemplate ReadRequestTemplate(const char *text);

}  // namespace zolm
