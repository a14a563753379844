// The subject attribute, key-usage flag and algorithm tables.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/name_tables.h"

TEST(AlgorithmName, Table) {
    struct Case {
        const char *paramSet, *signature, *name;
    } cases[] = {
        {"1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2", "GOST3410-2012-256-A-ParamSet"},
        {"1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.3", "GOST3410-2012-256-A-ParamSet"},
        {"1.2.643.7.1.2.1.1.2", "1.2.643.7.1.1.3.2", "GOST3410-2012-256-B-ParamSet"},
        {"1.2.643.7.1.2.1.1.3", "1.2.643.7.1.1.3.3", "GOST3410-2012-256-C-ParamSet"},
        {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.3.2", "GOST3410-2012-512-A-ParamSet"},
        {"1.2.643.7.1.2.1.2.2", "1.2.643.7.1.1.3.3", "GOST3410-2012-512-B-ParamSet"},
        {"1.2.643.2.2.35.2", "1.2.643.2.2.3", "CryptoPro-GostR3410-2001-B-ParamSet"},
        {"1.2.643.2.2.35.3", "1.2.643.2.2.3", "CryptoPro-GostR3410-2001-C-ParamSet"},
        {"1.2.643.2.2.36.0", "1.2.643.2.2.3", "CryptoPro-GostR3410-2001-XchA-ParamSet"},
        {"1.2.643.2.2.36.1", "1.2.643.2.2.3", "CryptoPro-GostR3410-2001-XchB-ParamSet"},
        {"1.2.840.113549.1.1.1", "1.2.643.2.2.3", "RSA"},
        // Pairs the table does not hold, and missing OIDs.
        {"1.2.643.2.2.35.2", "1.2.643.7.1.1.3.2", "ECR3410"},
        {"1.2.840.113549.1.1.1", "1.2.643.7.1.1.3.3", "ECR3410"},
        {"1.2.643.7.1.2.1.1.1", "1.2.643.2.2.3", "ECR3410"},
        {"1.2.643.2.2.35.2", "1.2.643.2.2.3 ", "ECR3410"},
        {"1.2.643.2.2.35.2", "1.2.643.2.2", "ECR3410"},
        {"", "1.2.643.2.2.3", "ECR3410"},
        {"1.2.643.2.2.35.2", "", "ECR3410"},
        {"", "", "ECR3410"},
        {nullptr, "1.2.643.2.2.3", "ECR3410"},
        {"1.2.643.2.2.35.2", nullptr, "ECR3410"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(zolm::AlgorithmName(c.paramSet, c.signature), c.name)
            << (c.paramSet ? c.paramSet : "(null)") << " / " << (c.signature ? c.signature : "(null)");
}

TEST(KeyUsageFlags, NamesMatchExactlyAndGiveBitAndFlag) {
    for (const auto &row : zolm::kKeyUsageFlagNames) {
        const auto *found = zolm::FindKeyUsageFlag(row.name);
        ASSERT_EQ(found, &row) << row.name;
        EXPECT_EQ(found->messageProFlag, 1u << found->bit) << row.name;
    }
    EXPECT_EQ(zolm::FindKeyUsageFlag("keyCertSign")->bit, 5);
    EXPECT_EQ(zolm::FindKeyUsageFlag("decipherOnly")->messageProFlag, 0x100u);
    for (const char *other : {"DigitalSignature", "digitalsignature", " digitalSignature", "digitalSignature ",
                              "crlSign", "", "keyUsage"})
        EXPECT_EQ(zolm::FindKeyUsageFlag(other), nullptr) << other;
}

TEST(SubjectAttributeNames, BothWaysAndUnique) {
    std::set<std::string> names, oids;
    for (const auto &row : zolm::kSubjectAttributeNames) {
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        EXPECT_TRUE(oids.insert(row.oid).second) << row.oid;
        EXPECT_EQ(zolm::FindSubjectAttributeByOid(row.oid), &row);
        EXPECT_EQ(zolm::FindSubjectAttributeByName(row.name), &row);
    }
    EXPECT_STREQ(zolm::kSubjectAttributeNames.front().name, "countryName");
    EXPECT_STREQ(zolm::kSubjectAttributeNames.back().name, "ORGNIP");
    EXPECT_STREQ(zolm::FindSubjectAttributeByOid("1.2.643.100.5")->name, "ORGNIP");
    EXPECT_STREQ(zolm::FindSubjectAttributeByOid("2.5.4.3")->name, "commonName");
    EXPECT_STREQ(zolm::FindSubjectAttributeByName("emailAddress")->oid, "1.2.840.113549.1.9.1");
    EXPECT_EQ(zolm::FindSubjectAttributeByName("OGRNIP"), nullptr);
    EXPECT_EQ(zolm::FindSubjectAttributeByOid("2.5.4.3.1"), nullptr);
}
