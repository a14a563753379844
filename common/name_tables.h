// The vocabulary of certificate contents: subject attribute names with their OIDs, key-usage flag
// names, and the key algorithm name for a GOST parameter set.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zolm {

struct SubjectAttributeName {
    const char *name;  // spelled as the system spells it ("ORGNIP", not OGRNIP)
    const char *oid;
};
extern const std::array<SubjectAttributeName, 21> kSubjectAttributeNames;

// The row of an attribute OID or name (exact match), or null.
const SubjectAttributeName *FindSubjectAttributeByOid(std::string_view oid) noexcept;
const SubjectAttributeName *FindSubjectAttributeByName(std::string_view name) noexcept;

struct KeyUsageFlagName {
    const char *name;
    int bit;                  // bit number of the X.509 key usage extension
    uint32_t messageProFlag;  // the value the Message-PRO library takes
};
extern const std::array<KeyUsageFlagName, 9> kKeyUsageFlagNames;

// The row of a flag name, matched exactly and case-sensitively, or null: other texts name no flag.
const KeyUsageFlagName *FindKeyUsageFlag(std::string_view name) noexcept;

constexpr const char kDefaultAlgorithmName[] = "ECR3410";

// The Message-PRO key algorithm name for a parameter set under a signature algorithm, or
// "ECR3410" when either OID is empty or null or the pair is not in the table. The table is built on
// the first call with both OIDs given. The result is a constant text.
const char *AlgorithmName(const char *paramSetOid, const char *signatureAlgorithmOid);

}  // namespace zolm
