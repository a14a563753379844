// The whole key life on folder media through the test host and the real libmespro.so, with every
// output checked by OpenSSL; and the error texts a host meets on the way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "platform/mespro/tests/test_ca.h"
#include "testing/shared_data_fixture.h"
#include "testing/test_host.h"
#include "zolm/provider.h"

namespace {

using mespro_test::CheckSignature;
using mespro_test::ReadRequest;
using mespro_test::RequestExtension;
using mespro_test::SubjectOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

const std::string kBin = ZOLM_BIN_DIR "/";

const char kTemplate[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<response>
  <SubjectSignTool><SignTool>СКЗИ "Message-PRO"</SignTool></SubjectSignTool>
  <Subject>
    <OID order="3"><Key>2.5.4.3</Key><Value>Иван Петров</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
    <OID order="2"><Key>1.2.643.100.3</Key><Value>12345678901</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag><Flag>Unknown</Flag></BasicKeyUsage>
    <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.2</Key><Value>client</Value></OID></ExtendedKeyUsage>
    <CertificatePolicies critical="1"><OID><Key>1.2.643.5.1.99</Key><Value>policy</Value></OID></CertificatePolicies>
  </Extensions>
  <SignAlgorithm><OID><Key>1.2.643.7.1.1.3.2</Key><Value>GOST R 34.10-2012 256</Value></OID></SignAlgorithm>
</response>)";

// The error text of a call, released as a host releases it; "" for success.
std::string Take(char *result) {
    if (result == nullptr) return "";
    std::string text = result;
    cp_ReleaseMemory(result, static_cast<uint32_t>(text.size() + 1));
    return text;
}

// "<prefix> (<file>:<line>)" with any line number.
::testing::Matcher<std::string> LibraryError(const std::string &prefix, const std::string &file) {
    return ::testing::AllOf(::testing::StartsWith(prefix + " (" + file + ":"),
                            ::testing::ContainsRegex("\\([a-z_]+\\.cpp:[0-9]+\\)$"));
}

struct Signature {
    std::string error;
    std::string bytes;
    std::string info;
};

Signature Sign(uint32_t medium, const char *password, const std::string &data) {
    void *signature = nullptr;
    uint32_t length = 0;
    char *info = nullptr;
    Signature out;
    out.error = Take(cp_SignData(medium, password, data.data(), static_cast<uint32_t>(data.size()), 0xDEADBEEF,
                                 &signature, &length, &info));
    if (out.error.empty()) {
        out.bytes.assign(static_cast<char *>(signature), length);
        out.info = info;
        cp_ReleaseMemory(signature, length);
        cp_ReleaseMemory(info, 1);
    }
    return out;
}

class MessagePro : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Take(cp_Init(host.Table(), kBin.c_str())), ""); }
    void TearDown() override { EXPECT_THAT(host.BlockProblems(), ::testing::IsEmpty()); }

    bool Has(uint32_t medium, const char *name) { return host.HasFile(medium, name); }

    // Generates, requests, has the test CA issue "cert.pem" and activates: a current key with "pw".
    void CurrentKey(uint32_t medium, const char *password) {
        host.GiveKeys(std::string(64, 'k'));
        ASSERT_EQ(Take(cp_GenerateKey(medium, password, "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")), "");
        ASSERT_EQ(Take(cp_MakeRequest(medium, password, kTemplate)), "");
        host.PutFile(medium, "cert.pem", ca.Issue(host.FileBytes(medium, "req.pem")));
        ASSERT_EQ(Take(cp_ActivateKey(medium)), "");
    }

    zolm::testing::PrivateSharedDataName sharedData;
    zolm::testing::TestHost host;
    mespro_test::TestCa ca;
};

TEST_F(MessagePro, WholeKeyLife) {
    // Generation: key store and pending key; the key presses reach the host.
    host.GiveKeys(std::string(64, 'q'));
    ASSERT_EQ(Take(cp_GenerateKey(1, "pw1", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")), "");
    for (const char *name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "keyn.der"})
        EXPECT_TRUE(Has(1, name)) << name;
    EXPECT_FALSE(Has(1, "key.der"));
    EXPECT_GT(host.Count("keyPress"), 0u);

    // PKCS #10 request: verifies, subject in ascending order, the template's extensions.
    ASSERT_EQ(Take(cp_MakeRequest(1, "pw1", kTemplate)), "");
    std::string requestPem = host.FileBytes(1, "req.pem");
    mespro::X509ReqPtr request = ReadRequest(requestPem);
    mespro::PkeyPtr requestKey(X509_REQ_get_pubkey(request.get()));
    EXPECT_EQ(X509_REQ_verify(request.get(), requestKey.get()), 1);
    EXPECT_EQ(EVP_PKEY_get_base_id(requestKey.get()), NID_id_GostR3410_2012_256);
    EXPECT_THAT(
        SubjectOf(X509_REQ_get_subject_name(request.get())),
        ElementsAre(Pair("2.5.4.6", "RU"), Pair("1.2.643.100.3", "12345678901"), Pair("2.5.4.3", "Иван Петров")));
    bool critical = false;
    EXPECT_EQ(RequestExtension(request.get(), NID_key_usage, &critical), "Digital Signature, Non Repudiation");
    EXPECT_TRUE(critical);
    EXPECT_EQ(RequestExtension(request.get(), NID_ext_key_usage, &critical), "TLS Web Client Authentication");
    EXPECT_FALSE(critical);
    EXPECT_THAT(RequestExtension(request.get(), NID_certificate_policies, &critical), HasSubstr("1.2.643.5.1.99"));
    EXPECT_TRUE(critical);
    EXPECT_EQ(RequestExtension(request.get(), NID_basic_constraints), "");

    // The certificate arrives; activation makes the pending key current.
    std::string certificate = ca.Issue(requestPem);
    host.PutFile(1, "cert.pem", certificate);
    ASSERT_EQ(Take(cp_ActivateKey(1)), "");
    EXPECT_TRUE(Has(1, "key.der"));
    EXPECT_FALSE(Has(1, "keyn.der"));

    // Signing: verifies over the data with the signer's certificate, carries the signing time.
    const std::string data = "платёжное поручение №1";
    Signature first = Sign(1, "pw1", data);
    ASSERT_EQ(first.error, "");
    EXPECT_EQ(first.info, "");
    mespro_test::SignatureCheck check = CheckSignature(first.bytes, false, &data, ca.Certificate());
    EXPECT_TRUE(check.verified);
    EXPECT_TRUE(check.signingTime);
    std::string other = data + ".";
    EXPECT_FALSE(CheckSignature(first.bytes, false, &other, ca.Certificate()).verified);

    // Passwords.
    int32_t accepted = -1;
    ASSERT_EQ(Take(cp_CheckPassword(1, "pw1", &accepted)), "");
    EXPECT_EQ(accepted, 1);
    ASSERT_EQ(Take(cp_CheckPassword(1, "wrong", &accepted)), "");
    EXPECT_EQ(accepted, 0);
    EXPECT_THAT(Take(cp_ChangePassword(1, "wrong", "pw2")),
                LibraryError("ChangePrivateKeyPasswordEx() failed, MessageProError=168, "
                             "Ошибка при считывании секретного ключа СКЗИ",
                             "lifecycle.cpp"));
    ASSERT_EQ(Take(cp_ChangePassword(1, "pw1", "pw2")), "");
    EXPECT_THAT(Sign(1, "pw1", data).error, LibraryError("AddPSEPrivateKeyEx() failed, MessageProError=168, "
                                                         "Ошибка при считывании секретного ключа СКЗИ",
                                                         "signing.cpp"));
    Signature second = Sign(1, "pw2", data);
    ASSERT_EQ(second.error, "");
    EXPECT_TRUE(CheckSignature(second.bytes, false, &data, ca.Certificate()).verified);

    // Renewal: a new pending key on the same medium (its key store is reused), requested with CMC.
    ASSERT_EQ(Take(cp_GenerateKey(1, "pw3", "", "")), "");
    ASSERT_EQ(Take(cp_MakeRequestCMC(1, kTemplate, "pw3", "pw2", "../../CA")), "");
    mespro_test::SignatureCheck cmc = CheckSignature(host.FileBytes(1, "req.pem"), true, nullptr, ca.Certificate());
    EXPECT_TRUE(cmc.verified);
    EXPECT_EQ(cmc.contentType, "1.3.6.1.5.5.7.12.2");
    mespro::X509Ptr current = mespro_test::ReadCertificatePem(certificate);
    EXPECT_EQ(cmc.signerSerial, mespro_test::SerialHex(current.get()));
    EXPECT_THAT(cmc.content, HasSubstr("Иван Петров"));

    // Copy to a second medium: no question on an empty one, then a refusal, then a yes.
    int32_t copied = -1;
    ASSERT_EQ(Take(cp_CopyKey(1, 2, &copied)), "");
    EXPECT_EQ(copied, 1);
    EXPECT_THAT(host.Questions(), ::testing::IsEmpty());
    for (const char *name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "key.der", "keyn.der"}) {
        EXPECT_EQ(host.FileBytes(2, name), host.FileBytes(1, name)) << name;
    }
    host.PutFile(2, "keyn.der", "older pending key");
    host.AnswerConfirm({false});
    ASSERT_EQ(Take(cp_CopyKey(1, 2, &copied)), "");
    EXPECT_EQ(copied, 0);
    EXPECT_THAT(host.Questions(), ElementsAre("Файл key.der уже существует в копии, заменить его ?"));
    EXPECT_EQ(host.FileBytes(2, "keyn.der"), "older pending key");
    host.AnswerConfirm({true, true});
    ASSERT_EQ(Take(cp_CopyKey(1, 2, &copied)), "");
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(host.FileBytes(2, "keyn.der"), host.FileBytes(1, "keyn.der"));
    host.PutFile(2, "cert.pem", certificate);  // certificates are the host's to carry
    EXPECT_TRUE(CheckSignature(Sign(2, "pw2", data).bytes, false, &data, ca.Certificate()).verified);

    // Destruction leaves the current key, its certificate and the request.
    ASSERT_EQ(Take(cp_DestroyKey(1)), "");
    for (const char *name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "keyn.der"})
        EXPECT_FALSE(Has(1, name)) << name;
    for (const char *name : {"key.der", "cert.pem", "req.pem"}) EXPECT_TRUE(Has(1, name)) << name;
    ASSERT_EQ(Take(cp_DeactivateKey(1)), "");
    EXPECT_FALSE(Has(1, "key.der"));
    ASSERT_EQ(Take(cp_DeactivateKey(1)), "") << "no current key is not an error";
}

TEST_F(MessagePro, SigningEdgeCases) {
    CurrentKey(1, "pw");
    Signature empty = Sign(1, "pw", "");
    ASSERT_EQ(empty.error, "");
    std::string nothing;
    EXPECT_TRUE(CheckSignature(empty.bytes, false, &nothing, ca.Certificate()).verified);

    host.PutFile(2, "key.der", host.FileBytes(1, "key.der"));
    EXPECT_THAT(Sign(2, "pw", "x").error,
                LibraryError("AddSigner() failed, MessageProError=104, Ошибка при чтении сертификата автора подписи",
                             "signing.cpp"));
    host.AddFolderMedium(3);
    EXPECT_THAT(Sign(3, "pw", "x").error,
                LibraryError("AddPSEPrivateKeyEx() failed, MessageProError=107, Ошибка при чтении секретного ключа",
                             "signing.cpp"));
}

TEST_F(MessagePro, HostFacingErrorTexts) {
    struct Case {
        const char *name;
        std::function<char *()> call;
        std::string expected;
    };
    const Case cases[] = {
        {"activation without a pending key", [] { return cp_ActivateKey(1); },
         "ошибка при переименовании файла keyn.der в key.der"},
        {"CMC request without cert.pem", [] { return cp_MakeRequestCMC(1, kTemplate, "a", "b", "../../CA"); },
         "ошибка при чтении файла cert.pem"},
        {"template without SignTool", [] { return cp_MakeRequest(1, "a", "<response/>"); },
         "No such node (response.SubjectSignTool.SignTool)"},
    };
    for (const Case &c : cases) EXPECT_EQ(Take(c.call()), c.expected) << c.name;
    host.GiveKeys(std::string(64, 'k'));
    ASSERT_EQ(Take(cp_GenerateKey(1, "pw", "", "")), "");
    EXPECT_THAT(Take(cp_MakeRequestCMC(1, kTemplate, "pw", "pw", "../../CA")), "ошибка при чтении файла cert.pem");
    EXPECT_THAT(Take(cp_MakeRequest(1, "wrong", kTemplate)),
                LibraryError("MakePSECertificateRequest() failed, MessageProError=168, "
                             "Ошибка при считывании секретного ключа СКЗИ",
                             "requests.cpp"));
}

TEST(MessageProInit, ChecksTheLibrarySignature) {
    zolm::testing::TestHost host;
    mespro_test::TempDir dir;
    EXPECT_EQ(Take(cp_Init(host.Table(), dir.Path().c_str())), "failed to open file " + dir.Path() + "mespro.sig");

    std::string library = mespro_test::ReadFile(kBin + "libmespro.so");
    library[library.size() / 3] ^= 0x20;
    mespro_test::WriteFile(dir.Path() + "libmespro.so", library);
    mespro_test::WriteFile(dir.Path() + "mespro.sig", mespro_test::ReadFile(kBin + "mespro.sig"));
    EXPECT_THAT(Take(cp_Init(host.Table(), dir.Path().c_str())),
                LibraryError("VerifyDevelopersSign() failed, MessageProError=0, Ошибка без описания", "provider.cpp"));
    EXPECT_EQ(Take(cp_Init(host.Table(), kBin.c_str())), "");

    const ProviderInfo *info = cp_Info();
    EXPECT_STREQ(info->id, "MessagePro4");
    EXPECT_STREQ(info->title, "Message-PRO 4");
    EXPECT_STREQ(info->family, "GOST/CPA");
    EXPECT_THAT(info->numbers, ElementsAre(1, 1, 0, 0, 0, 1));
}

}  // namespace
