// The whole key life through the exports with the real software CSP in a private folder: generate,
// request (checked as DER and verified by OpenSSL), issue, activate, sign (verified by OpenSSL), check
// and change the password, sign again.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "platform/softcsp/tests/test_ca.h"
#include "testing/test_host.h"
#include "zolm/provider.h"
#include "zolm_cp_cryptopro/csp_access.h"
#include "zolm_cp_cryptopro/tests/text_match.h"

namespace {

using softcsp::Bytes;

std::string Result(char *text) {
    if (text == nullptr) return "";
    std::string copy = text;
    cp_ReleaseMemory(text, static_cast<uint32_t>(copy.size() + 1));
    return copy;
}

const char kTemplate[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<response>
  <SubjectSignTool><SignTool>СКЗИ "Тест"</SignTool></SubjectSignTool>
  <Subject>
    <OID order="3"><Key>2.5.4.3</Key><Value>Иванов Иван</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
    <OID order="2"><Key>1.2.643.100.3</Key><Value>12345678901</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag><Flag>Bogus</Flag></BasicKeyUsage>
    <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.2</Key><Value>client</Value></OID><OID><Key>1.3.6.1.5.5.7.3.4</Key><Value>mail</Value></OID></ExtendedKeyUsage>
    <CertificatePolicies critical="1"><OID><Key>1.2.643.100.113.1</Key><Value>KC1</Value></OID></CertificatePolicies>
    <BasicConstraints critical="true" ca="true"/>
  </Extensions>
  <SignAlgorithm><OID><Key>%s</Key><Value>GOST</Value></OID></SignAlgorithm>
</response>)";

std::string TemplateFor(const char *algorithm) {
    char text[4096];
    std::snprintf(text, sizeof text, kTemplate, algorithm);
    return text;
}

std::string OidText(const ASN1_OBJECT *object) {
    char buffer[128];
    OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return buffer;
}

// The DER of a PEM text.
Bytes PemBody(const std::string &pem) {
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    char *name = nullptr, *header = nullptr;
    unsigned char *data = nullptr;
    long length = 0;
    Bytes der;
    if (PEM_read_bio(bio, &name, &header, &data, &length) == 1) der.assign(data, data + length);
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    BIO_free(bio);
    return der;
}

class KeyLifeTest : public ::testing::TestWithParam<std::tuple<const char *, const char *, const char *, int>> {
protected:
    void SetUp() override {
        char templ[] = "/tmp/cryptopro-csp-XXXXXX";
        cspDir_ = mkdtemp(templ);
        csp_ = softcsp::OpenSoftCsp(cspDir_, 0x0500);
        cryptopro::UseCsp(csp_.get());
        ASSERT_EQ(Result(cp_Init(host_.Table(), "")), "");
    }
    void TearDown() override {
        cryptopro::UseCsp(nullptr);
        EXPECT_EQ(host_.BlockProblems(), std::vector<std::string>{});
        std::filesystem::remove_all(cspDir_);
    }
    // Signs through the export; the signature bytes, or the error text in *error.
    Bytes Sign(const char *password, const Bytes &data, std::string *error) {
        void *signature = nullptr;
        uint32_t length = 0;
        char *info = nullptr;
        *error = Result(
            cp_SignData(1, password, data.data(), static_cast<uint32_t>(data.size()), 0, &signature, &length, &info));
        if (!error->empty()) {
            EXPECT_EQ(signature, nullptr);
            EXPECT_EQ(info, nullptr);
            return {};
        }
        EXPECT_STREQ(info, "");
        Bytes out(static_cast<uint8_t *>(signature), static_cast<uint8_t *>(signature) + length);
        cp_ReleaseMemory(signature, length);
        cp_ReleaseMemory(info, 1);
        return out;
    }
    int32_t Check(const char *password) {
        int32_t accepted = -1;
        EXPECT_EQ(Result(cp_CheckPassword(1, password, &accepted)), "");
        return accepted;
    }

    std::string cspDir_;
    std::unique_ptr<softcsp::Csp> csp_;
    zolm::testing::TestHost host_;
};

TEST_P(KeyLifeTest, GenerateRequestActivateSignAndPasswords) {
    auto [algorithm, paramSet, digest, bits] = GetParam();
    softcsp::testing::TestCa ca;

    ASSERT_EQ(Result(cp_GenerateKey(1, "pin-1", paramSet, algorithm)), "");
    std::string record = host_.FileBytes(1, "container");
    ASSERT_TRUE(record.size() == 37 && record[0] == '/' && cryptopro::testing::IsLowerGuid(record.substr(1))) << record;
    std::string container = cspDir_ + "/containers/REGISTRY/zolm-" + record.substr(1);
    struct stat st;
    ASSERT_EQ(stat((container + "/signature.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ASSERT_EQ(Result(cp_MakeRequest(1, "", TemplateFor(algorithm).c_str())), "");
    std::string pem = host_.FileBytes(1, "req.pem");
    ASSERT_EQ(pem.rfind("-----BEGIN CERTIFICATE REQUEST-----\n", 0), 0u);
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509_REQ *req = PEM_read_bio_X509_REQ(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(X509_REQ_verify(req, X509_REQ_get0_pubkey(req)), 1);
    EXPECT_EQ(EVP_PKEY_get_bits(X509_REQ_get0_pubkey(req)), bits);
    EXPECT_EQ(X509_REQ_get_version(req), 0);
    // Signature algorithm from the template, without parameters.
    const X509_ALGOR *algor = nullptr;
    X509_REQ_get0_signature(req, nullptr, &algor);
    const ASN1_OBJECT *algorithmObject = nullptr;
    int parameterType = 0;
    X509_ALGOR_get0(&algorithmObject, &parameterType, nullptr, algor);
    EXPECT_EQ(OidText(algorithmObject), algorithm);
    EXPECT_EQ(parameterType, V_ASN1_UNDEF);
    // Subject: one RDN per entry in order 1, 2, 3, each a UTF8String.
    const X509_NAME *subject = X509_REQ_get_subject_name(req);
    ASSERT_EQ(X509_NAME_entry_count(subject), 3);
    const char *oids[] = {"2.5.4.6", "1.2.643.100.3", "2.5.4.3"};
    const char *values[] = {"RU", "12345678901", "Иванов Иван"};
    for (int i = 0; i < 3; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(subject, i);
        EXPECT_EQ(X509_NAME_ENTRY_set(entry), i);
        EXPECT_EQ(OidText(X509_NAME_ENTRY_get_object(entry)), oids[i]);
        const ASN1_STRING *value = X509_NAME_ENTRY_get_data(entry);
        EXPECT_EQ(ASN1_STRING_type(value), V_ASN1_UTF8STRING);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)), ASN1_STRING_length(value)),
                  values[i]);
    }
    // Exactly one attribute, the extension request, holding the four extensions in order.
    EXPECT_EQ(X509_REQ_get_attr_count(req), 1);
    EXPECT_EQ(OidText(X509_ATTRIBUTE_get0_object(X509_REQ_get_attr(req, 0))), "1.2.840.113549.1.9.14");
    STACK_OF(X509_EXTENSION) *extensions = X509_REQ_get_extensions(req);
    ASSERT_EQ(sk_X509_EXTENSION_num(extensions), 4);
    struct Expected {
        const char *oid;
        int critical;
        const char *valueHex;
    } expected[] = {
        {"2.5.29.15", 1, "030206C0"},
        {"2.5.29.37", 0, "301406082B0601050507030206082B06010505070304"},
        {"2.5.29.32", 1, "300A300806062A8503647101"},
        {"1.2.643.100.111", 0, ""},
    };
    for (int i = 0; i < 4; ++i) {
        X509_EXTENSION *extension = sk_X509_EXTENSION_value(extensions, i);
        EXPECT_EQ(OidText(X509_EXTENSION_get_object(extension)), expected[i].oid);
        EXPECT_EQ(X509_EXTENSION_get_critical(extension), expected[i].critical) << expected[i].oid;
        const ASN1_OCTET_STRING *data = X509_EXTENSION_get_data(extension);
        std::string hex;
        for (int k = 0; k < ASN1_STRING_length(data); ++k) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", ASN1_STRING_get0_data(data)[k]);
            hex += pair;
        }
        if (i < 3) {
            EXPECT_EQ(hex, expected[i].valueHex) << expected[i].oid;
        } else {
            std::string tool = "СКЗИ \"Тест\"";
            EXPECT_EQ(hex.substr(0, 2), "0C");
            EXPECT_EQ(static_cast<size_t>(ASN1_STRING_length(data)), tool.size() + 2);
        }
    }
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);

    // A request from another process (or a second one) opens the pending container with its password.
    std::string wrong = Result(cp_MakeRequest(1, "wrong", TemplateFor(algorithm).c_str()));
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        wrong, "CryptSignAndEncodeCertificate() failed, GetLastError=2148532331/0x8010006B", "key_operations.cpp"))
        << wrong;
    ASSERT_EQ(Result(cp_MakeRequest(1, "pin-1", TemplateFor(algorithm).c_str())), "");
    EXPECT_TRUE(softcsp::testing::RequestVerifies(PemBody(host_.FileBytes(1, "req.pem"))));

    // Certificate from the request; the host puts it on the medium.
    unsigned char *der = nullptr;
    int derLength = i2d_X509_REQ(req, &der);
    Bytes requestDer(der, der + derLength);
    OPENSSL_free(der);
    X509_REQ_free(req);
    Bytes certificate = ca.IssueForRequest(requestDer);
    ASSERT_FALSE(certificate.empty());
    host_.PutFile(1, "cert.pem", softcsp::testing::ToPem(certificate, "CERTIFICATE"));

    // Before activation the medium has no active container.
    std::string error;
    Bytes data(1000, 0x42);
    Sign("pin-1", data, &error);
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        error, "CryptAcquireContext() failed, GetLastError=2148073494/0x80090016", "container_binding.cpp"))
        << error;

    ASSERT_EQ(Result(cp_ActivateKey(1)), "");
    EXPECT_EQ(host_.FileBytes(1, "container"), record.substr(1) + "/");

    Bytes signature = Sign("pin-1", data, &error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(softcsp::testing::CmsVerifies(signature, data, ca));
    Bytes tampered = data;
    tampered[999] ^= 1;
    EXPECT_FALSE(softcsp::testing::CmsVerifies(signature, tampered, ca));
    // Detached, one signer, the digest by the key's size, no signed attributes, the certificate included.
    const unsigned char *p = signature.data();
    CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size()));
    ASSERT_NE(cms, nullptr);
    EXPECT_EQ(CMS_is_detached(cms), 1);
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms);
    ASSERT_EQ(sk_CMS_SignerInfo_num(signers), 1);
    CMS_SignerInfo *signer = sk_CMS_SignerInfo_value(signers, 0);
    X509_ALGOR *digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digestAlgorithm, nullptr);
    const ASN1_OBJECT *digestObject = nullptr;
    X509_ALGOR_get0(&digestObject, nullptr, nullptr, digestAlgorithm);
    EXPECT_EQ(OidText(digestObject), digest);
    EXPECT_EQ(CMS_signed_get_attr_count(signer), -1);
    STACK_OF(X509) *certs = CMS_get1_certs(cms);
    EXPECT_EQ(sk_X509_num(certs), 1);
    sk_X509_pop_free(certs, X509_free);
    CMS_ContentInfo_free(cms);

    EXPECT_EQ(Check("pin-1"), 1);
    EXPECT_EQ(Check("pin-2"), 0);
    EXPECT_EQ(Result(cp_ChangePassword(1, "pin-1", "pin-2")), "");
    EXPECT_EQ(Check("pin-1"), 0);
    EXPECT_EQ(Check("pin-2"), 1);
    signature = Sign("pin-2", data, &error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(softcsp::testing::CmsVerifies(signature, data, ca));
    Sign("pin-1", data, &error);
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        error, "CryptSignMessage() failed, GetLastError=2148532331/0x8010006B", "key_operations.cpp"))
        << error;
    std::string wrongChange = Result(cp_ChangePassword(1, "pin-1", "pin-3"));
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        wrongChange, "CryptSetProvParam() failed, GetLastError=2148532331/0x8010006B", "key_operations.cpp"))
        << wrongChange;
    EXPECT_EQ(Check("pin-2"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    KeySizes, KeyLifeTest,
    ::testing::Values(std::tuple{"1.2.643.7.1.1.3.2", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.2.2", 256},
                      std::tuple{"1.2.643.7.1.1.3.3", "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3", 512}),
    [](const auto &info) { return std::to_string(std::get<3>(info.param)); });

}  // namespace
