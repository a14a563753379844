// The plug-in against a CSP double: the CSP check, error texts, the container record, the provider
// cache and its probe, activation, and the operations this plug-in does not support.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "common/key_medium.h"
#include "platform/softcsp/gost.h"
#include "platform/softcsp/tests/test_ca.h"
#include "testing/test_host.h"
#include "zolm/provider.h"
#include "zolm_cp_cryptopro/container_binding.h"
#include "zolm_cp_cryptopro/csp_access.h"
#include "zolm_cp_cryptopro/tests/fake_csp.h"
#include "zolm_cp_cryptopro/tests/text_match.h"

using cryptopro::testing::FakeCsp;

namespace {

// Takes an export's result: "" for success, else the text (released as a host would).
std::string Result(char *text) {
    if (text == nullptr) return "";
    std::string copy = text;
    cp_ReleaseMemory(text, static_cast<uint32_t>(copy.size() + 1));
    return copy;
}

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override { cryptopro::UseCsp(&csp_); }
    void TearDown() override {
        cryptopro::UseCsp(nullptr);
        EXPECT_EQ(host_.BlockProblems(), std::vector<std::string>{});
    }
    std::string Init() { return Result(cp_Init(host_.Table(), "")); }
    std::string Serial() { return zolm::host::FolderMedia::DerivedSerialNumber(host_.Folder(1)); }

    FakeCsp csp_;
    zolm::testing::TestHost host_;
};

TEST_F(BindingTest, VersionWords) {
    struct Case {
        uint32_t word;
        const char *text;
    } cases[] = {
        {0x0400, ""},
        {0x0500, ""},
        {0x03FF, "unsupported CryptoPro CSP version: 0x03FF"},
        {0x0501, "unsupported CryptoPro CSP version: 0x0501"},
        {0x10400, "unsupported CryptoPro CSP version: 0x0400"},
    };
    for (const auto &c : cases) {
        csp_.version = c.word;
        EXPECT_EQ(Init(), c.text) << std::hex << c.word;
        // The verification context of the 256-bit provider is released whatever the outcome.
        ASSERT_FALSE(csp_.acquired.empty());
        EXPECT_EQ(csp_.acquired.back().provider, "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider");
        EXPECT_EQ(csp_.acquired.back().type, 80u);
        EXPECT_EQ(csp_.acquired.back().flags, softcsp::CRYPT_VERIFYCONTEXT);
        EXPECT_TRUE(csp_.open.empty());
    }
}

TEST_F(BindingTest, CspFailuresNameTheCallAndCode) {
    struct Case {
        uint32_t *setting;
        uint32_t code;
        const char *head;
    } cases[] = {
        {&csp_.acquireCode, 2, "CryptAcquireContext() failed, GetLastError=2"},
        {&csp_.acquireCode, 0x80090016, "CryptAcquireContext() failed, GetLastError=2148073494/0x80090016"},
        {&csp_.versionCode, 0x80090020, "CryptGetProvParam() failed, GetLastError=2148073504/0x80090020"},
        {&csp_.releaseCode, 6, "CryptReleaseContext() failed, GetLastError=6"},
    };
    for (const auto &c : cases) {
        csp_.acquireCode = csp_.versionCode = csp_.releaseCode = 0;
        *c.setting = c.code;
        std::string text = Init();
        EXPECT_TRUE(cryptopro::testing::IsFailureText(text, c.head, "container_binding.cpp")) << text;
    }
}

TEST_F(BindingTest, RecordTexts) {
    struct Case {
        const char *text;  // null: no file
        const char *active;
        const char *pending;
    } cases[] = {{"a/b/c", "a", "b/c"}, {"abc", "abc", ""}, {"", "", ""}, {"/p", "", "p"}, {nullptr, "", ""}};
    ASSERT_EQ(Init(), "");
    for (const auto &c : cases) {
        if (c.text != nullptr) {
            host_.PutFile(1, "container", c.text);
        } else {
            std::filesystem::remove(host_.Folder(1) / "container");
        }
        cryptopro::LoadRecord(1);
        EXPECT_EQ(cryptopro::Names(Serial()).active, c.active) << (c.text ? c.text : "(none)");
        EXPECT_EQ(cryptopro::Names(Serial()).pending, c.pending) << (c.text ? c.text : "(none)");
    }
    // Without a record the active container's path is the bare prefix, which the CSP refuses.
    csp_.acquireCode = 0x80090016;
    int32_t accepted = 7;
    std::string text = Result(cp_CheckPassword(1, "x", &accepted));
    EXPECT_EQ(csp_.acquired.back().container, "\\\\.\\REGISTRY\\zolm-");
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        text, "CryptAcquireContext() failed, GetLastError=2148073494/0x80090016", "container_binding.cpp"))
        << text;
    EXPECT_EQ(accepted, 7);
}

TEST_F(BindingTest, DeadCachedHandleIsReplaced) {
    ASSERT_EQ(Init(), "");
    csp_.released.clear();
    host_.PutFile(1, "container", "abc/");
    int32_t accepted = 0;
    ASSERT_EQ(Result(cp_CheckPassword(1, "pw", &accepted)), "");
    EXPECT_EQ(accepted, 1);
    softcsp::ProvHandle first = *csp_.open.begin();
    EXPECT_EQ(csp_.acquired.back().container, "\\\\.\\REGISTRY\\zolm-abc");
    EXPECT_EQ(csp_.acquired.back().type, 80u);
    EXPECT_EQ(csp_.acquired.back().flags, 0u);
    size_t acquisitions = csp_.acquired.size();

    ASSERT_EQ(Result(cp_CheckPassword(1, "pw", &accepted)), "");  // the cached handle passes the probe
    EXPECT_EQ(csp_.acquired.size(), acquisitions);

    csp_.dead.insert(first);
    csp_.pinCode = softcsp::SCARD_W_WRONG_CHV;
    ASSERT_EQ(Result(cp_CheckPassword(1, "wrong", &accepted)), "");
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(csp_.acquired.size(), acquisitions + 1);
    EXPECT_EQ(csp_.released, std::vector<softcsp::ProvHandle>{first});
}

TEST_F(BindingTest, ActivationPromotesThePendingName) {
    ASSERT_EQ(Init(), "");
    host_.PutFile(1, "container", "old/new");
    int32_t accepted = 0;
    ASSERT_EQ(Result(cp_CheckPassword(1, "pw", &accepted)), "");
    EXPECT_EQ(csp_.acquired.back().container, "\\\\.\\REGISTRY\\zolm-old");
    ASSERT_EQ(Result(cp_ActivateKey(1)), "");
    EXPECT_EQ(host_.FileBytes(1, "container"), "new/");
    // The next use opens the promoted container, not the old one's cached handle.
    ASSERT_EQ(Result(cp_CheckPassword(1, "pw", &accepted)), "");
    EXPECT_EQ(csp_.acquired.back().container, "\\\\.\\REGISTRY\\zolm-new");

    // Nothing pending: the active name stays and the caller is told.
    EXPECT_EQ(Result(cp_ActivateKey(1)), "no pending key to activate");
    EXPECT_EQ(host_.FileBytes(1, "container"), "new/");
}

TEST_F(BindingTest, ProviderChoiceByAlgorithmPrefix) {
    struct Case {
        const char *algorithm;
        uint32_t type;
    } cases[] = {{"1.2.643.7.1.1.3.2", 80},
                 {"1.2.643.7.1.1.1.1", 80},
                 {"1.2.643.7.1.1.3.3", 81},
                 {"1.2.643.7.1.1.1.2", 81},
                 {"1.2.643.7.1.1.3.2.5", 80},
                 {"1.2.643.2.2.3", 81},
                 {"", 81}};
    ASSERT_EQ(Init(), "");
    for (const auto &c : cases) {
        ASSERT_EQ(Result(cp_GenerateKey(1, "pw", "1.2.643.7.1.2.1.1.1", c.algorithm)), "") << c.algorithm;
        const auto &acquisition = csp_.acquired.back();
        EXPECT_EQ(acquisition.type, c.type) << c.algorithm;
        EXPECT_EQ(acquisition.flags, softcsp::CRYPT_NEWKEYSET);
        const std::string prefix = "\\\\.\\REGISTRY\\zolm-";
        EXPECT_EQ(acquisition.container.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(cryptopro::testing::IsLowerGuid(acquisition.container.substr(prefix.size())))
            << acquisition.container;
        EXPECT_EQ("/" + acquisition.container.substr(std::strlen("\\\\.\\REGISTRY\\zolm-")),
                  host_.FileBytes(1, "container"));
    }
    EXPECT_EQ(csp_.pins.back(), "pw");
}

TEST_F(BindingTest, FailedGenerationLeavesNoKeyToRequestFor) {
    ASSERT_EQ(Init(), "");
    ASSERT_EQ(Result(cp_GenerateKey(1, "pw", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")), "");
    softcsp::ProvHandle first = *csp_.open.begin();
    csp_.generateCode = softcsp::NTE_FAIL;
    std::string text = Result(cp_GenerateKey(1, "pw", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2"));
    EXPECT_TRUE(cryptopro::testing::IsFailureText(text, "CryptGenKey() failed, GetLastError=2148073504/0x80090020",
                                                  "key_operations.cpp"))
        << text;
    // Neither the first generation's context nor the failed one stays; the record names the new container.
    EXPECT_TRUE(csp_.open.empty());
    EXPECT_NE(std::find(csp_.released.begin(), csp_.released.end(), first), csp_.released.end());
    std::string pending = host_.FileBytes(1, "container").substr(1);
    // A request now goes to the pending container, never to the first generation's key.
    text = Result(cp_MakeRequest(1, "pw",
                                 "<response><SubjectSignTool><SignTool/></SubjectSignTool><Subject/>"
                                 "<Extensions/><SignAlgorithm/></response>"));
    EXPECT_EQ(csp_.acquired.back().container, "\\\\.\\REGISTRY\\zolm-" + pending);
    EXPECT_TRUE(cryptopro::testing::IsFailureText(
        text, "CryptExportPublicKeyInfo() failed, GetLastError=2148073485/0x8009000D", "key_operations.cpp"))
        << text;
}

TEST_F(BindingTest, OperationsWithoutWork) {
    ASSERT_EQ(Init(), "");
    host_.ClearCalls();
    EXPECT_EQ(Result(cp_MakeRequestCMC(1, "<x/>", "a", "b", "c")), "Функция не поддерживается");
    int32_t copied = 5;
    EXPECT_EQ(Result(cp_CopyKey(1, 2, &copied)), "Операция не поддерживается");
    EXPECT_EQ(copied, 5);
    EXPECT_EQ(Result(cp_DestroyKey(1)), "");
    EXPECT_EQ(Result(cp_DeactivateKey(1)), "");
    int32_t stored = 0;
    EXPECT_EQ(Result(cp_StoreCertificate(1, 2, 3, &stored)), "");
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(host_.Calls().empty());
    const ProviderInfo *info = cp_Info();
    EXPECT_STREQ(info->id, "CryptoPro45");
    EXPECT_STREQ(info->title, "КриптоПро");
    EXPECT_STREQ(info->family, "GOST/CPA");
    EXPECT_EQ(std::vector<int32_t>(info->numbers, info->numbers + 6), (std::vector<int32_t>{1, 1, 0, 0, 0, 1}));
}

// Signs through the export; "" or the error text. Outputs must stay untouched on failure.
std::string SignText(const char *password) {
    void *signature = reinterpret_cast<void *>(1);
    uint32_t length = 7;
    char *info = reinterpret_cast<char *>(2);
    const uint8_t data[] = {1, 2, 3};
    std::string text = Result(cp_SignData(1, password, data, 3, 0, &signature, &length, &info));
    if (text.empty()) {
        cp_ReleaseMemory(signature, length);
        cp_ReleaseMemory(info, 1);
    } else {
        EXPECT_EQ(signature, reinterpret_cast<void *>(1));
        EXPECT_EQ(length, 7u);
        EXPECT_EQ(info, reinterpret_cast<char *>(2));
    }
    return text;
}

// A certificate for a new key of the given kind (a GOST parameter set, or "rsa").
std::string CertificatePem(const std::string &kind) {
    softcsp::PkeyPtr key;
    if (kind == "rsa") {
        key.reset(EVP_RSA_gen(1024));
    } else {
        key = softcsp::GenerateGostKey(kind);
    }
    static softcsp::testing::TestCa ca;
    return softcsp::testing::ToPem(ca.Issue(softcsp::PublicKeyInfo(key.get()), "Signer"), "CERTIFICATE");
}

TEST_F(BindingTest, SigningTextsAndDigests) {
    ASSERT_EQ(Init(), "");
    host_.PutFile(1, "container", "abc/");
    EXPECT_EQ(SignText("pw"), "ошибка при чтении файла cert.pem");

    std::string pem = CertificatePem("1.2.643.7.1.2.1.2.1");
    std::string body = pem.substr(pem.find('\n') + 1);
    body = body.substr(0, body.find("-----END"));
    host_.PutFile(1, "cert.pem", body);  // Base64 without BEGIN and END lines
    std::string text = SignText("pw");
    EXPECT_TRUE(
        cryptopro::testing::IsFailureText(text, "CryptStringToBinary() failed, GetLastError=13", "key_operations.cpp"))
        << text;

    host_.PutFile(1, "cert.pem", CertificatePem("rsa"));
    EXPECT_EQ(SignText("pw"), "Некорректный алгоритм открытого ключа");

    host_.PutFile(1, "cert.pem", "-----BEGIN CERTIFICATE-----\nMAA=\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(SignText("pw"), "cert.pem holds no certificate");

    struct Case {
        const char *paramSet;
        const char *digest;
    } cases[] = {{"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3"}, {"1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.2.2"}};
    for (const auto &c : cases) {
        host_.PutFile(1, "cert.pem", CertificatePem(c.paramSet));
        EXPECT_EQ(SignText("pw"), "");
        EXPECT_EQ(csp_.digests.back(), c.digest);
        EXPECT_EQ(csp_.pins.back(), "pw");
    }
    csp_.signCode = softcsp::NTE_NO_KEY;
    text = SignText("pw");
    EXPECT_TRUE(cryptopro::testing::IsFailureText(text, "CryptSignMessage() failed, GetLastError=2148073485/0x8009000D",
                                                  "key_operations.cpp"))
        << text;
}

TEST_F(BindingTest, MediumFailuresUseTheMessageTable) {
    ASSERT_EQ(Init(), "");
    host_.Fail("getSerialNumber");
    int32_t accepted = 0;
    EXPECT_EQ(Result(cp_CheckPassword(1, "pw", &accepted)), "ошибка при получении серийного номера ключевого носителя");
    host_.ClearFailures();
    host_.Fail("writeFile", "container");
    EXPECT_EQ(Result(cp_GenerateKey(1, "pw", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")),
              "ошибка при записи файла container");
    EXPECT_TRUE(csp_.open.empty());  // the new container's context is not left open
}

}  // namespace
