// libmespro through its C interface: key store, keys, requests, signatures and failure codes,
// with every output checked by OpenSSL.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/mespro/mespro.h"
#include "platform/mespro/tests/test_ca.h"

using namespace mespro_test;

namespace {

std::string g_password = "secret";
std::vector<std::string> g_passwordFiles;  // GetKeyFileNameForPassword seen by the callback
std::vector<int32_t> g_wanted;             // characters the library asked for

int32_t PasswordCallback(char *buffer, int32_t size) {
    g_passwordFiles.emplace_back(GetKeyFileNameForPassword());
    if (static_cast<int32_t>(g_password.size()) >= size) return -1;
    std::memcpy(buffer, g_password.c_str(), g_password.size() + 1);
    return static_cast<int32_t>(g_password.size());
}

int32_t MESPRO_STDCALL KeyPress(int32_t wanted, uint32_t, uint32_t, uint32_t) {
    g_wanted.push_back(wanted);
    return wanted;
}

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        g_password = "secret";
        g_passwordFiles.clear();
        g_wanted.clear();
        SetKeysNewPasswordCallbackFun(PasswordCallback);
        SetKeysPasswordCallbackFun(PasswordCallback);
        SetRandInitCallbackFun(KeyPress);
        ASSERT_EQ(PKCS7Init(dir.Path().c_str(), 0), 0);
    }
    void TearDown() override { EXPECT_EQ(PKCS7Final(), 0); }

    std::string Path(const char *name) const { return dir.Path() + name; }

    void Generate(const char *algorithm, const char *keyFile = "keyn.der") {
        int32_t store = PSE_Generation(dir.Path().c_str(), 0, 0, 1);
        ASSERT_TRUE(store == 0 || store == MESPRO_E_STORE_EXISTS) << store;
        ASSERT_EQ(SetNewKeysAlgorithm(algorithm), 0);
        ASSERT_EQ(NewKeysGenerationEx(dir.Path().c_str(), 0, Path(keyFile).c_str(), "", 0), 0);
    }

    std::string Request(const char *keyFile = "keyn.der") {
        ResetDistinguishedName();
        ResetExtensions();
        EXPECT_EQ(SetDistinguishedNameAttribute("commonName", "Иван Петров"), 0);
        EXPECT_EQ(MakePSECertificateRequest(Path("req.pem").c_str(), dir.Path().c_str(), Path(keyFile).c_str(), 0, 0),
                  0);
        return ReadFile(Path("req.pem"));
    }

    TempDir dir;
};

TEST_F(Library, KeyStoreIsCreatedOnceAndAKeyPressSeedsTheGenerator) {
    ASSERT_EQ(PSE_Generation(dir.Path().c_str(), 0, 0, 1), 0);
    for (const char *name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"})
        EXPECT_TRUE(std::filesystem::exists(Path(name))) << name;
    EXPECT_EQ(PSE_Generation(dir.Path().c_str(), 0, 0, 1), MESPRO_E_STORE_EXISTS);
    EXPECT_EQ(GetMessageProLastError(), MESPRO_E_STORE_EXISTS);
    std::string seed = ReadFile(Path("rand.opq"));
    g_wanted.clear();
    Generate("ECR3410");
    ASSERT_FALSE(g_wanted.empty());
    for (int32_t c : g_wanted) EXPECT_TRUE(c >= 33 && c <= 126) << c;
    EXPECT_NE(ReadFile(Path("rand.opq")), seed) << "the seed file is renewed after seeding";
    EXPECT_EQ(g_passwordFiles, std::vector<std::string>{Path("keyn.der")});
}

TEST_F(Library, EveryAlgorithmNameMakesAVerifiableRequest) {
    const std::pair<const char *, int> cases[] = {
        {"ECR3410", NID_id_GostR3410_2012_256},
        {"GOST3410-2012-256-A-ParamSet", NID_id_GostR3410_2012_256},
        {"GOST3410-2012-256-B-ParamSet", NID_id_GostR3410_2012_256},
        {"GOST3410-2012-256-C-ParamSet", NID_id_GostR3410_2012_256},
        {"GOST3410-2012-512-A-ParamSet", NID_id_GostR3410_2012_512},
        {"GOST3410-2012-512-B-ParamSet", NID_id_GostR3410_2012_512},
        {"CryptoPro-GostR3410-2001-B-ParamSet", NID_id_GostR3410_2001},
        {"CryptoPro-GostR3410-2001-C-ParamSet", NID_id_GostR3410_2001},
        {"CryptoPro-GostR3410-2001-XchA-ParamSet", NID_id_GostR3410_2001},
        {"CryptoPro-GostR3410-2001-XchB-ParamSet", NID_id_GostR3410_2001},
        {"RSA", EVP_PKEY_RSA},
    };
    for (const auto &[name, nid] : cases) {
        SCOPED_TRACE(name);
        Generate(name);
        mespro::X509ReqPtr request = ReadRequest(Request());
        mespro::PkeyPtr key(X509_REQ_get_pubkey(request.get()));
        ASSERT_TRUE(key);
        EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), nid);
        EXPECT_EQ(X509_REQ_verify(request.get(), key.get()), 1);
    }
    EXPECT_EQ(SetNewKeysAlgorithm("GOST3410-2012-1024"), MESPRO_E_ALGORITHM);
}

TEST_F(Library, RequestCarriesSubjectInCallOrderAndExtensions) {
    Generate("GOST3410-2012-256-A-ParamSet");
    ResetDistinguishedName();
    ResetExtensions();
    ASSERT_EQ(SetCertificateRequestFlags(8), 0);
    ASSERT_EQ(SetDistinguishedNameAttribute("2.5.4.6", "RU"), 0);
    ASSERT_EQ(SetDistinguishedNameAttribute("INN", "007701234567"), 0);
    ASSERT_EQ(SetDistinguishedNameAttribute("commonName", "ООО Ромашка"), 0);
    ASSERT_EQ(SetDistinguishedNameAttribute("1.2.643.100.1", "1027700132195"), 0);
    ASSERT_EQ(SetKeyUsage(0x3, 1), 0);
    ASSERT_EQ(AddExtendedKeyUsage("1.3.6.1.5.5.7.3.2", 0), 0);
    ASSERT_EQ(AddExtendedKeyUsage("1.3.6.1.5.5.7.3.4", 0), 0);
    ASSERT_EQ(AddCertificatePolicy("1.2.643.5.1.99", 0), 0);
    ASSERT_EQ(SetBasicConstraints(0, 1), 0);
    ASSERT_EQ(SetSubjectSignTool(), 0);
    ASSERT_EQ(SetCertificateRequestFlags(2), 0);
    ASSERT_EQ(MakePSECertificateRequest(Path("req.pem").c_str(), dir.Path().c_str(), Path("keyn.der").c_str(), 0, 0),
              0);

    std::string pem = ReadFile(Path("req.pem"));
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u);
    mespro::X509ReqPtr request = ReadRequest(pem);
    mespro::PkeyPtr key(X509_REQ_get_pubkey(request.get()));
    EXPECT_EQ(X509_REQ_verify(request.get(), key.get()), 1);
    using Entries = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(SubjectOf(X509_REQ_get_subject_name(request.get())), (Entries{{"2.5.4.6", "RU"},
                                                                            {"1.2.643.3.131.1.1", "007701234567"},
                                                                            {"2.5.4.3", "ООО Ромашка"},
                                                                            {"1.2.643.100.1", "1027700132195"}}));
    bool critical = false;
    EXPECT_EQ(RequestExtension(request.get(), NID_key_usage, &critical), "Digital Signature, Non Repudiation");
    EXPECT_TRUE(critical);
    EXPECT_EQ(RequestExtension(request.get(), NID_ext_key_usage, &critical),
              "TLS Web Client Authentication, E-mail Protection");
    EXPECT_FALSE(critical);
    EXPECT_NE(RequestExtension(request.get(), NID_certificate_policies).find("1.2.643.5.1.99"), std::string::npos);
    EXPECT_EQ(RequestExtension(request.get(), NID_basic_constraints, &critical), "CA:FALSE");
    EXPECT_TRUE(critical);
    EXPECT_NE(RequestExtension(request.get(), OBJ_txt2nid("1.2.643.100.111")), "");
    EXPECT_EQ(g_passwordFiles.back(), Path("keyn.der"));
}

TEST_F(Library, SignsWithCertificateAndSigningTimeAndRenewsWithCmc) {
    TestCa ca;
    Generate("GOST3410-2012-256-A-ParamSet", "key.der");
    std::string certPem = ca.Issue(Request("key.der"));
    WriteFile(Path("cert.pem"), certPem);

    ASSERT_EQ(AddCAs("/nonexistent/CA"), 0);
    ASSERT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "secret"), 0);
    void *ctx = GetSignCTX();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(AddSigner(ctx, 0, Path("cert.pem").c_str(), 0), 0);
    ASSERT_EQ(InsertCertificateToSign(1), 0);
    ASSERT_EQ(InsertSigningTimeToSign(1), 0);
    const std::string data = "data to sign";
    void *out = nullptr;
    int32_t outLength = 0;
    ASSERT_EQ(SignBufferEx(ctx, data.data(), static_cast<int32_t>(data.size()), &out, &outLength, 1), 0);
    std::string der(static_cast<char *>(out), static_cast<size_t>(outLength));
    FreeBuffer(out);
    ASSERT_EQ(FreeSignCTX(ctx), 0);
    EXPECT_EQ(FreeSignCTX(ctx), MESPRO_E_NULL) << "a released context is not released twice";

    SignatureCheck check = CheckSignature(der, false, &data, ca.Certificate());
    EXPECT_TRUE(check.verified);
    EXPECT_TRUE(check.signingTime);
    EXPECT_FALSE(check.detached);
    EXPECT_EQ(CheckSignature(der, false, nullptr, ca.Certificate()).content, data);
    std::string tampered = "data to sigN";
    EXPECT_FALSE(CheckSignature(der, false, &tampered, ca.Certificate()).verified);

    // Renewal: a new pending key, requested with CMC under the current key and certificate.
    Generate("GOST3410-2012-512-A-ParamSet", "keyn.der");
    ASSERT_EQ(AddCertificateFromBuffer(certPem.data(), static_cast<int32_t>(certPem.size())), 0);
    char *serial = GetCertificateSerialBuffer(certPem.data(), static_cast<int32_t>(certPem.size()));
    ASSERT_NE(serial, nullptr);
    std::string serialText = serial;
    FreeBuffer(serial);
    void *cmcCtx = GetSignCTX();
    ASSERT_EQ(AddSigner(cmcCtx, 2, serialText.c_str(), 0), 0);
    ResetDistinguishedName();
    ResetExtensions();
    SetDistinguishedNameAttribute("commonName", "Renewed");
    ASSERT_EQ(MakePSECertificateRequestEx(Path("req.pem").c_str(), dir.Path().c_str(), Path("keyn.der").c_str(), 0, 0,
                                          2, serialText.c_str(), 0),
              0);
    std::string cmc = ReadFile(Path("req.pem"));
    EXPECT_EQ(cmc.rfind("-----BEGIN CMS-----", 0), 0u);
    SignatureCheck cmcCheck = CheckSignature(cmc, true, nullptr, ca.Certificate());
    EXPECT_TRUE(cmcCheck.verified);
    EXPECT_EQ(cmcCheck.contentType, "1.3.6.1.5.5.7.12.2");
    EXPECT_EQ(cmcCheck.signerSerial, serialText);
    EXPECT_NE(cmcCheck.content.find("Renewed"), std::string::npos) << "PKIData holds the PKCS #10 request";
}

TEST_F(Library, FailuresReportTheirCodes) {
    Generate("ECR3410", "key.der");
    void *ctx = GetSignCTX();
    void *out = nullptr;
    int32_t length = 0;
    EXPECT_EQ(SignBufferEx(ctx, "x", 1, &out, &length, 1), MESPRO_E_SIGNER_INFO);
    EXPECT_EQ(AddSigner(ctx, 0, Path("cert.pem").c_str(), 0), MESPRO_E_SIGNER_CERT);
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "wrong"), MESPRO_E_WRONG_PASSWORD);
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("none.der").c_str(), "secret"), MESPRO_E_KEY_READ);
    WriteFile(Path("junk.der"), "not a key");
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("junk.der").c_str(), "secret"), MESPRO_E_KEY_DECODE);
    EXPECT_EQ(GetMessageProLastError(), MESPRO_E_KEY_DECODE);
    EXPECT_EQ(ChangePrivateKeyPasswordEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "wrong", "new"),
              MESPRO_E_WRONG_PASSWORD);
    ASSERT_EQ(ChangePrivateKeyPasswordEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "secret", "new"), 0);
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "secret"), MESPRO_E_WRONG_PASSWORD);
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "new"), 0);
    EXPECT_EQ(SetDistinguishedNameAttribute("noSuchName", "x"), MESPRO_E_NAME);
    EXPECT_EQ(SetDistinguishedNameAttribute("countryName", "RUS"), MESPRO_E_NAME);
    EXPECT_EQ(SetCertificateRequestFlags(0x40), MESPRO_E_REQUEST_FLAGS);
    g_password = std::string(600, 'p');  // does not fit the library's buffer: refused, nothing overrun
    EXPECT_EQ(NewKeysGenerationEx(dir.Path().c_str(), 0, Path("keyn.der").c_str(), "", 0), MESPRO_E_KEY_WRITE);

    TempDir empty;
    EXPECT_EQ(PSE_Copy(empty.Path().c_str(), 0, dir.Path().c_str(), 1), MESPRO_E_STORE_COPY);
    EXPECT_EQ(PSE_Copy(dir.Path().c_str(), 0, empty.Path().c_str(), 1), 0);
    EXPECT_EQ(ReadFile(empty.Path() + "kek.opq"), ReadFile(Path("kek.opq")));
    EXPECT_EQ(PSE_Copy(dir.Path().c_str(), 0, empty.Path().c_str(), 0), MESPRO_E_STORE_EXISTS);

    ASSERT_EQ(PKCS7Final(), 0);
    EXPECT_EQ(GetSignCTX(), nullptr);
    EXPECT_EQ(GetMessageProLastError(), MESPRO_E_NOT_INITIALISED);
    EXPECT_EQ(AddPSEPrivateKeyEx(dir.Path().c_str(), 0, Path("key.der").c_str(), "new"), MESPRO_E_NOT_INITIALISED);
    ASSERT_EQ(PKCS7Init(nullptr, 0), 0);
}

TEST(DevelopersSign, AcceptsTheBuildsSignatureOnlyOverTheExactLibrary) {
    const std::string bin = ZOLM_BIN_DIR "/";
    std::string library = ReadFile(bin + "libmespro.so");
    std::string signature = ReadFile(bin + "mespro.sig");
    auto verify = [&](const std::string &path, const std::string &sig) {
        return VerifyDevelopersSign(path.c_str(), sig.data(), static_cast<int32_t>(sig.size()));
    };
    EXPECT_EQ(verify(bin + "libmespro.so", signature), 1);

    TempDir dir;
    std::string copy = library;
    copy[copy.size() / 2] ^= 1;
    WriteFile(dir.Path() + "libmespro.so", copy);
    EXPECT_EQ(verify(dir.Path() + "libmespro.so", signature), 0);
    std::string truncated = signature.substr(0, signature.size() - 10);
    EXPECT_EQ(verify(bin + "libmespro.so", truncated), 0);
    EXPECT_EQ(verify(dir.Path() + "missing.so", signature), 0);
}

}  // namespace
