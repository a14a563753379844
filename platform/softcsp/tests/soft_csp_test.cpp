// The software CSP against its contract: contexts and containers, keys sealed under the PIN, requests
// and CMS signatures that OpenSSL verifies, the store "My" with key-provider links.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/key_file.h"
#include "platform/softcsp/tests/test_ca.h"

using namespace softcsp;
using softcsp::testing::TestCa;

namespace {

const TestCa &Ca() {
    static TestCa ca;
    return ca;
}

class SoftCspTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/softcsp-test-XXXXXX";
        dir_ = mkdtemp(templ);
        csp_ = OpenSoftCsp(dir_, kDefaultVersion);
    }
    void TearDown() override {
        for (ProvHandle h : handles_) csp_->ReleaseContext(h);
        std::filesystem::remove_all(dir_);
    }

    ProvHandle Open(const std::string &container, uint32_t flags = 0, uint32_t type = PROV_GOST_2012_256) {
        ProvHandle h = 0;
        EXPECT_EQ(csp_->AcquireContext(&h, container.c_str(), nullptr, type, flags), 0u) << container;
        handles_.push_back(h);
        return h;
    }
    // A new container with a signature key under pin.
    ProvHandle NewKey(const std::string &container, const char *pin, const char *paramSet = "1.2.643.7.1.2.1.1.1",
                      uint32_t type = PROV_GOST_2012_256) {
        ProvHandle h = Open(container, CRYPT_NEWKEYSET, type);
        EXPECT_EQ(csp_->SetSignatureParamSet(h, paramSet), 0u);
        EXPECT_EQ(csp_->SetPin(h, pin), 0u);
        EXPECT_EQ(csp_->GenerateKey(h, AT_SIGNATURE), 0u);
        return h;
    }
    Bytes Certificate(ProvHandle h) {
        Bytes spki;
        EXPECT_EQ(csp_->ExportPublicKeyInfo(h, AT_SIGNATURE, &spki), 0u);
        return Ca().Issue(spki, "Signer");
    }

    std::string dir_;
    std::unique_ptr<Csp> csp_;
    std::vector<ProvHandle> handles_;
};

TEST_F(SoftCspTest, ProviderNamesAndTypes) {
    struct Case {
        const char *name;
        uint32_t type;
        uint32_t code;
    } cases[] = {
        {kProvider2012, 80, 0},
        {kProvider2012Strong, 81, 0},
        {kProvider2001, 75, 0},
        {nullptr, 80, 0},
        {kProvider2012, 81, NTE_PROV_TYPE_NO_MATCH},
        {"Some Other Provider", 80, NTE_KEYSET_NOT_DEF},
        {kProvider2012, 1, NTE_PROV_TYPE_NOT_DEF},
    };
    for (const auto &c : cases) {
        ProvHandle h = 0;
        EXPECT_EQ(csp_->AcquireContext(&h, nullptr, c.name, c.type, CRYPT_VERIFYCONTEXT), c.code)
            << (c.name ? c.name : "(null)") << " " << c.type;
        if (h != 0) {
            uint32_t version = 0;
            EXPECT_EQ(csp_->GetVersion(h, &version), 0u);
            EXPECT_EQ(version, 0x0500u);
            EXPECT_EQ(csp_->ReleaseContext(h), 0u);
            EXPECT_EQ(csp_->ReleaseContext(h), NTE_BAD_UID);
        }
    }
}

TEST_F(SoftCspTest, ContainerPathsAndExistence) {
    ProvHandle h = 0;
    struct Case {
        const char *path;
        uint32_t flags;
        uint32_t code;
    } cases[] = {
        {"\\\\.\\REGISTRY\\zolm-missing", 0, NTE_BAD_KEYSET},
        {"\\\\.\\REGISTRY\\zolm-", 0, NTE_BAD_KEYSET},
        {"\\\\.\\REGISTRY\\zolm-a", CRYPT_NEWKEYSET, 0},
        {"\\\\.\\REGISTRY\\zolm-a", CRYPT_NEWKEYSET, NTE_EXISTS},
        {"zolm-a", 0, 0},  // a bare name is the registry store's
        {"\\\\.\\REGISTRY\\..", CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"\\\\.\\REGISTRY\\a/b", CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"\\\\.\\..\\x", CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"\\\\.\\REGISTRY\\zolm-a", 0x4, NTE_BAD_FLAGS},
    };
    for (const auto &c : cases) {
        h = 0;
        EXPECT_EQ(csp_->AcquireContext(&h, c.path, kProvider2012, 80, c.flags), c.code) << c.path;
        if (h != 0) handles_.push_back(h);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/containers/x"));
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/containers/REGISTRY/zolm-a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Deleting a container makes contexts on it fail the probe.
    ProvHandle open = Open("\\\\.\\REGISTRY\\zolm-a");
    EXPECT_EQ(csp_->ProbeContext(open), 0u);
    EXPECT_EQ(csp_->AcquireContext(&h, "\\\\.\\REGISTRY\\zolm-a", nullptr, 80, CRYPT_DELETEKEYSET), 0u);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(csp_->ProbeContext(open), NTE_BAD_KEYSET);
    EXPECT_EQ(csp_->ProbeContext(0), NTE_BAD_UID);
}

TEST_F(SoftCspTest, KeysAreSealedInPrivateFiles) {
    NewKey("\\\\.\\REGISTRY\\zolm-k", "1234");
    std::string folder = dir_ + "/containers/REGISTRY/zolm-k/";
    for (const char *file : {"signature.key", "signature.pub", "signature.paramset"}) {
        struct stat st;
        ASSERT_EQ(stat((folder + file).c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
    std::ifstream in(folder + "signature.key", std::ios::binary);
    Bytes sealed((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(sealed.size(), 8u);
    EXPECT_EQ(std::string(sealed.begin(), sealed.begin() + 8), "ZCSPKEY1");
    // The plaintext key appears nowhere in the file; the right PIN opens it, a wrong one does not.
    auto pkcs8 = OpenKey(sealed, "1234");
    ASSERT_TRUE(pkcs8.has_value());
    EXPECT_EQ(std::search(sealed.begin(), sealed.end(), pkcs8->end() - 32, pkcs8->end()), sealed.end());
    EXPECT_FALSE(OpenKey(sealed, "1235").has_value());
    sealed.back() ^= 1;
    EXPECT_FALSE(OpenKey(sealed, "1234").has_value());
}

TEST_F(SoftCspTest, ParameterSetsFollowTheProvider) {
    struct Case {
        uint32_t type;
        const char *paramSet;
        uint32_t code;
        int bits;
    } cases[] = {
        {80, "1.2.643.7.1.2.1.1.1", 0, 256},           {80, "1.2.643.2.2.35.1", 0, 256},
        {80, "1.2.643.7.1.2.1.2.1", NTE_BAD_ALGID, 0}, {81, "1.2.643.7.1.2.1.2.1", 0, 512},
        {81, "1.2.643.7.1.2.1.2.2", 0, 512},           {80, "1.2.3.4", NTE_BAD_ALGID, 0},
    };
    int n = 0;
    for (const auto &c : cases) {
        ProvHandle h = Open("\\\\.\\REGISTRY\\zolm-p" + std::to_string(n++), CRYPT_NEWKEYSET, c.type);
        EXPECT_EQ(csp_->SetSignatureParamSet(h, c.paramSet), c.code) << c.paramSet;
        if (c.code != 0) continue;
        ASSERT_EQ(csp_->GenerateKey(h, AT_SIGNATURE), 0u);
        EXPECT_EQ(csp_->GenerateKey(h, AT_SIGNATURE), NTE_EXISTS);
        Bytes spki;
        ASSERT_EQ(csp_->ExportPublicKeyInfo(h, AT_SIGNATURE, &spki), 0u);
        const unsigned char *p = spki.data();
        PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
        ASSERT_TRUE(key);
        EXPECT_EQ(EVP_PKEY_get_bits(key.get()), c.bits) << c.paramSet;
        // The SubjectPublicKeyInfo names the chosen parameter set.
        Bytes oid;
        ASN1_OBJECT *object = OBJ_txt2obj(c.paramSet, 1);
        unsigned char *der = nullptr;
        int length = i2d_ASN1_OBJECT(object, &der);
        oid.assign(der, der + length);
        OPENSSL_free(der);
        ASN1_OBJECT_free(object);
        EXPECT_NE(std::search(spki.begin(), spki.end(), oid.begin(), oid.end()), spki.end()) << c.paramSet;
    }
}

TEST_F(SoftCspTest, PinIsCheckedAndChanged) {
    const std::string path = "\\\\.\\REGISTRY\\zolm-pin";
    ProvHandle h = NewKey(path, "old");
    Bytes cert = Certificate(h);
    const uint8_t data[] = {1, 2, 3};
    Bytes signature;

    ProvHandle other = Open(path);
    EXPECT_EQ(csp_->SetPin(other, "wrong"), SCARD_W_WRONG_CHV);
    // A refused PIN leaves the context without a usable key.
    EXPECT_EQ(csp_->SignMessage(other, AT_SIGNATURE, cert, "1.2.643.7.1.1.2.2", data, 3, &signature),
              SCARD_W_WRONG_CHV);
    EXPECT_EQ(csp_->ChangePin(other, "new"), SCARD_W_WRONG_CHV);
    EXPECT_EQ(csp_->SetPin(other, "old"), 0u);
    EXPECT_EQ(csp_->SignMessage(other, AT_SIGNATURE, cert, "1.2.643.7.1.1.2.2", data, 3, &signature), 0u);
    EXPECT_EQ(csp_->SetPin(other, "wrong"), SCARD_W_WRONG_CHV);
    EXPECT_EQ(csp_->SetPin(other, "old"), 0u);
    EXPECT_EQ(csp_->ChangePin(other, "new"), 0u);

    ProvHandle fresh = Open(path);
    EXPECT_EQ(csp_->SetPin(fresh, "old"), SCARD_W_WRONG_CHV);
    EXPECT_EQ(csp_->SetPin(fresh, "new"), 0u);
    EXPECT_EQ(csp_->SignMessage(fresh, AT_SIGNATURE, cert, "1.2.643.7.1.1.2.2", data, 3, &signature), 0u);
    EXPECT_TRUE(softcsp::testing::CmsVerifies(signature, Bytes(data, data + 3), Ca()));
}

TEST_F(SoftCspTest, RequestSignatureVerifies) {
    for (auto [type, paramSet, algorithm] : {std::tuple{80u, "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2"},
                                             std::tuple{81u, "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.3.3"}}) {
        ProvHandle h = NewKey("\\\\.\\REGISTRY\\zolm-req" + std::to_string(type), "pin", paramSet, type);
        Bytes spki;
        ASSERT_EQ(csp_->ExportPublicKeyInfo(h, AT_SIGNATURE, &spki), 0u);
        // CertificationRequestInfo: version 0, empty subject, the key, no attributes.
        Bytes info = {0x02, 0x01, 0x00, 0x30, 0x00};
        info.insert(info.end(), spki.begin(), spki.end());
        info.insert(info.end(), {0xA0, 0x00});
        Bytes body = {0x30};
        if (info.size() < 128) {
            body.push_back(static_cast<uint8_t>(info.size()));
        } else {
            body.insert(body.end(), {0x81, static_cast<uint8_t>(info.size())});
        }
        body.insert(body.end(), info.begin(), info.end());
        Bytes request;
        ASSERT_EQ(csp_->SignRequest(h, AT_SIGNATURE, body, algorithm, &request), 0u);
        EXPECT_TRUE(softcsp::testing::RequestVerifies(request)) << algorithm;
        // The signature algorithm must fit the key; the request info must be one DER structure.
        const char *mismatch = type == 80 ? "1.2.643.7.1.1.3.3" : "1.2.643.7.1.1.3.2";
        EXPECT_EQ(csp_->SignRequest(h, AT_SIGNATURE, body, mismatch, &request), NTE_BAD_ALGID);
        EXPECT_EQ(csp_->SignRequest(h, AT_SIGNATURE, body, "1.2.840.113549.1.1.11", &request), NTE_BAD_ALGID);
        Bytes truncated(body.begin(), body.end() - 1);
        EXPECT_EQ(csp_->SignRequest(h, AT_SIGNATURE, truncated, algorithm, &request), CRYPT_E_ASN1_BADTAG);
    }
}

TEST_F(SoftCspTest, DetachedSignatureOverData) {
    ProvHandle h = NewKey("\\\\.\\REGISTRY\\zolm-cms", "");
    Bytes cert = Certificate(h);
    for (size_t size : {0u, 1u, 1000u, 70000u}) {
        Bytes data(size, 0x5A);
        Bytes signature;
        ASSERT_EQ(csp_->SignMessage(h, AT_SIGNATURE, cert, "1.2.643.7.1.1.2.2", data.data(), data.size(), &signature),
                  0u);
        EXPECT_TRUE(softcsp::testing::CmsVerifies(signature, data, Ca())) << size;
        if (!data.empty()) {
            data[0] ^= 1;
            EXPECT_FALSE(softcsp::testing::CmsVerifies(signature, data, Ca())) << size;
        }
    }
    // Another key's certificate, a digest of the other size, bytes that are no certificate.
    ProvHandle other = NewKey("\\\\.\\REGISTRY\\zolm-cms2", "");
    Bytes otherCert = Certificate(other);
    Bytes signature;
    const uint8_t byte = 1;
    EXPECT_EQ(csp_->SignMessage(h, AT_SIGNATURE, otherCert, "1.2.643.7.1.1.2.2", &byte, 1, &signature),
              NTE_BAD_PUBLIC_KEY);
    EXPECT_EQ(csp_->SignMessage(h, AT_SIGNATURE, cert, "1.2.643.7.1.1.2.3", &byte, 1, &signature), NTE_BAD_ALGID);
    EXPECT_EQ(csp_->SignMessage(h, AT_SIGNATURE, Bytes{1, 2, 3}, "1.2.643.7.1.1.2.2", &byte, 1, &signature),
              CRYPT_E_ASN1_BADTAG);
    EXPECT_EQ(csp_->SignMessage(h, AT_KEYEXCHANGE, cert, "1.2.643.7.1.1.2.2", &byte, 1, &signature), NTE_NO_KEY);
}

TEST_F(SoftCspTest, CertificatesInContainersAndStore) {
    const std::string path = "\\\\.\\REGISTRY\\zolm-store";
    ProvHandle h = NewKey(path, "");
    Bytes cert = Certificate(h);
    Bytes read;
    EXPECT_EQ(csp_->GetKeyCertificate(h, AT_SIGNATURE, &read), SCARD_E_NO_SUCH_CERTIFICATE);
    EXPECT_EQ(csp_->SetKeyCertificate(h, AT_SIGNATURE, Ca().Certificate()), NTE_BAD_PUBLIC_KEY);
    EXPECT_EQ(csp_->SetKeyCertificate(h, AT_SIGNATURE, cert), 0u);
    EXPECT_EQ(csp_->GetKeyCertificate(h, AT_SIGNATURE, &read), 0u);
    EXPECT_EQ(read, cert);
    EXPECT_EQ(csp_->GetKeyCertificate(h, AT_KEYEXCHANGE, &read), NTE_NO_KEY);

    ProvHandle verify = 0;
    ASSERT_EQ(csp_->AcquireContext(&verify, nullptr, kProvider2001, 75, CRYPT_VERIFYCONTEXT), 0u);
    handles_.push_back(verify);
    std::vector<std::string> containers;
    EXPECT_EQ(csp_->EnumContainers(verify, &containers), 0u);
    EXPECT_EQ(containers, std::vector<std::string>{path});

    EXPECT_EQ(csp_->AddToStore("My", {cert, KeyProvInfo{path, kProvider2012, 80, AT_SIGNATURE}}), 0u);
    EXPECT_EQ(csp_->AddToStore("My", {Ca().Certificate(), std::nullopt}), 0u);
    EXPECT_EQ(csp_->AddToStore("My", {Bytes{0x30, 0x00}, std::nullopt}), CRYPT_E_ASN1_BADTAG);
    std::vector<StoredCertificate> stored;
    ASSERT_EQ(csp_->ListStore("My", &stored), 0u);
    ASSERT_EQ(stored.size(), 2u);
    const uint8_t data[] = {'a', 'b'};
    for (const auto &entry : stored) {
        Bytes signature;
        if (entry.der == cert) {
            ASSERT_TRUE(entry.keyProv.has_value());
            EXPECT_EQ(entry.keyProv->container, path);
            EXPECT_EQ(csp_->SignMessageWithLink(entry, "1.2.643.7.1.1.2.2", data, 2, &signature), 0u);
            EXPECT_TRUE(softcsp::testing::CmsVerifies(signature, Bytes(data, data + 2), Ca()));
        } else {
            EXPECT_EQ(csp_->SignMessageWithLink(entry, "1.2.643.7.1.1.2.2", data, 2, &signature),
                      CRYPT_E_NO_KEY_PROPERTY);
        }
    }
    // A key that needs a PIN cannot be used without a dialog; a link to a missing container neither.
    ProvHandle locked = NewKey("\\\\.\\REGISTRY\\zolm-locked", "secret");
    StoredCertificate lockedEntry{Certificate(locked),
                                  KeyProvInfo{"\\\\.\\REGISTRY\\zolm-locked", kProvider2012, 80, AT_SIGNATURE}};
    Bytes signature;
    EXPECT_EQ(csp_->SignMessageWithLink(lockedEntry, "1.2.643.7.1.1.2.2", data, 2, &signature), NTE_BAD_KEYSET);
    lockedEntry.keyProv->container = "\\\\.\\REGISTRY\\zolm-gone";
    EXPECT_EQ(csp_->SignMessageWithLink(lockedEntry, "1.2.643.7.1.1.2.2", data, 2, &signature), NTE_BAD_KEYSET);
}

TEST(CertificateHelpers, FactsNamesAndDigest) {
    Bytes cert = Ca().Certificate();
    CertificateFacts facts;
    ASSERT_EQ(ReadCertificateFacts(cert, &facts), 0u);
    EXPECT_EQ(facts.signatureAlgorithmOid, "1.2.643.7.1.1.3.2");
    EXPECT_EQ(facts.publicKeyAlgorithmOid, "1.2.643.7.1.1.1.1");
    EXPECT_EQ(facts.basicConstraintsCa, 1);
    EXPECT_GT(facts.notAfter, facts.notBefore);
    DecodedName name;
    ASSERT_EQ(DecodeName(facts.subject, &name), 0u);
    ASSERT_EQ(name.size(), 1u);
    EXPECT_EQ(name[0][0].oid, "2.5.4.3");
    EXPECT_EQ(name[0][0].value, "Test CA");
    EXPECT_EQ(SimpleDisplayName(cert), "Test CA");
    EXPECT_EQ(ReadCertificateFacts(Bytes{1, 2}, &facts), CRYPT_E_ASN1_BADTAG);
    std::string oid;
    ASSERT_EQ(ReadPublicKeyAlgorithm(cert, &oid), 0u);
    EXPECT_EQ(oid, "1.2.643.7.1.1.1.1");
    // Truncated, extended or empty input is no certificate.
    for (Bytes bad : {Bytes(cert.begin(), cert.end() - 1), Bytes{}, Bytes{0x30, 0x00}}) {
        EXPECT_EQ(ReadPublicKeyAlgorithm(bad, &oid), CRYPT_E_ASN1_BADTAG) << bad.size();
    }
    Bytes longer = cert;
    longer.push_back(0);
    EXPECT_EQ(ReadPublicKeyAlgorithm(longer, &oid), CRYPT_E_ASN1_BADTAG);
    EXPECT_STREQ(ErrorName(0x80090016), "NTE_BAD_KEYSET");
}

TEST_F(SoftCspTest, Sha1OfData) {
    ProvHandle h = 0;
    ASSERT_EQ(csp_->AcquireContext(&h, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT), 0u);
    handles_.push_back(h);
    Bytes digest;
    const uint8_t abc[] = {'a', 'b', 'c'};
    ASSERT_EQ(csp_->Sha1(h, abc, 3, &digest), 0u);
    EXPECT_EQ(digest, (Bytes{0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                             0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D}));
}

}  // namespace
