#include "common/name_tables.h"

#include <algorithm>
#include <map>
#include <string>

namespace zolm {

const std::array<SubjectAttributeName, 21> kSubjectAttributeNames = {{
    {"countryName", "2.5.4.6"},
    {"stateOrProvinceName", "2.5.4.8"},
    {"localityName", "2.5.4.7"},
    {"organizationName", "2.5.4.10"},
    {"organizationalUnitName", "2.5.4.11"},
    {"title", "2.5.4.12"},
    {"commonName", "2.5.4.3"},
    {"emailAddress", "1.2.840.113549.1.9.1"},
    {"serialNumber", "2.5.4.5"},
    {"pseudonym", "2.5.4.65"},
    {"postalAddress", "2.5.4.16"},
    {"unstructuredName", "1.2.840.113549.1.9.2"},
    {"surname", "2.5.4.4"},
    {"givenName", "2.5.4.42"},
    {"streetAddress", "2.5.4.9"},
    {"INN", "1.2.643.3.131.1.1"},
    {"RNS_FSS", "1.2.643.3.141.1.1"},
    {"KP_FSS", "1.2.643.3.141.1.2"},
    {"OGRN", "1.2.643.100.1"},
    {"SNILS", "1.2.643.100.3"},
    {"ORGNIP", "1.2.643.100.5"},
}};

const std::array<KeyUsageFlagName, 9> kKeyUsageFlagNames = {{
    {"digitalSignature", 0, 0x001},
    {"nonRepudiation", 1, 0x002},
    {"keyEncipherment", 2, 0x004},
    {"dataEncipherment", 3, 0x008},
    {"keyAgreement", 4, 0x010},
    {"keyCertSign", 5, 0x020},
    {"cRLSign", 6, 0x040},
    {"encipherOnly", 7, 0x080},
    {"decipherOnly", 8, 0x100},
}};

const SubjectAttributeName *FindSubjectAttributeByOid(std::string_view oid) noexcept {
    auto row = std::find_if(kSubjectAttributeNames.begin(), kSubjectAttributeNames.end(),
                            [&](const SubjectAttributeName &r) { return oid == r.oid; });
    return row == kSubjectAttributeNames.end() ? nullptr : &*row;
}

const SubjectAttributeName *FindSubjectAttributeByName(std::string_view name) noexcept {
    auto row = std::find_if(kSubjectAttributeNames.begin(), kSubjectAttributeNames.end(),
                            [&](const SubjectAttributeName &r) { return name == r.name; });
    return row == kSubjectAttributeNames.end() ? nullptr : &*row;
}

const KeyUsageFlagName *FindKeyUsageFlag(std::string_view name) noexcept {
    auto row = std::find_if(kKeyUsageFlagNames.begin(), kKeyUsageFlagNames.end(),
                            [&](const KeyUsageFlagName &r) { return name == r.name; });
    return row == kKeyUsageFlagNames.end() ? nullptr : &*row;
}

namespace {

// Signature algorithm OID -> (parameter-set OID -> library algorithm name).
using AlgorithmTable = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;

AlgorithmTable BuildAlgorithmTable() {
    AlgorithmTable table;
    table["1.2.643.2.2.3"] = {
        {"1.2.643.2.2.35.2", "CryptoPro-GostR3410-2001-B-ParamSet"},
        {"1.2.643.2.2.35.3", "CryptoPro-GostR3410-2001-C-ParamSet"},
        {"1.2.643.2.2.36.0", "CryptoPro-GostR3410-2001-XchA-ParamSet"},
        {"1.2.643.2.2.36.1", "CryptoPro-GostR3410-2001-XchB-ParamSet"},
        {"1.2.840.113549.1.1.1", "RSA"},
    };
    // Both 2012 signature algorithms (256 and 512 bits) take every 2012 parameter set: the table does
    // not match parameter sets to key lengths.
    const std::map<std::string, std::string, std::less<>> gost2012 = {
        {"1.2.643.7.1.2.1.2.1", "GOST3410-2012-512-A-ParamSet"},
        {"1.2.643.7.1.2.1.2.2", "GOST3410-2012-512-B-ParamSet"},
        {"1.2.643.7.1.2.1.1.1", "GOST3410-2012-256-A-ParamSet"},
        {"1.2.643.7.1.2.1.1.2", "GOST3410-2012-256-B-ParamSet"},
        {"1.2.643.7.1.2.1.1.3", "GOST3410-2012-256-C-ParamSet"},
    };
    table["1.2.643.7.1.1.3.2"] = gost2012;
    table["1.2.643.7.1.1.3.3"] = gost2012;
    return table;
}

}  // namespace

const char *AlgorithmName(const char *paramSetOid, const char *signatureAlgorithmOid) {
    if (paramSetOid == nullptr || signatureAlgorithmOid == nullptr || *paramSetOid == '\0' ||
        *signatureAlgorithmOid == '\0')
        return kDefaultAlgorithmName;
    static const AlgorithmTable table = BuildAlgorithmTable();
    auto algorithm = table.find(std::string_view(signatureAlgorithmOid));
    if (algorithm == table.end()) return kDefaultAlgorithmName;
    auto name = algorithm->second.find(std::string_view(paramSetOid));
    if (name == algorithm->second.end() || name->second.empty()) return kDefaultAlgorithmName;
    return name->second.c_str();
}

}  // namespace zolm
