// The exports against the CSP double: init codes and versions, handle bookkeeping, the passes' failure
// texts, and every signing code after each of the two CryptSignMessage calls.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "common/result.h"
#include "platform/softcsp/gost.h"
#include "zolm/ukep.h"
#include "zolm_ukep/csp_access.h"
#include "zolm_ukep/tests/cert_factory.h"
#include "zolm_ukep/tests/ukep_fake_csp.h"

namespace ukep::testing {
namespace {

// An error text as a string (empty for success), released the way a host releases it.
std::string Text(char *result) {
    if (result == nullptr) return "";
    std::string text = result;
    ukep_ReleaseMemory(result, static_cast<int32_t>(text.size() + 1));
    return text;
}

std::string List() {
    char *list = nullptr;
    int32_t length = -1;
    std::string error = Text(ukep_EnumerateCertificates(&list, &length));
    if (!error.empty()) return "error: " + error;
    std::string text(list, length);
    EXPECT_EQ(list[length], '\0');
    ukep_ReleaseMemory(list, length);
    return text;
}

std::vector<std::string> Ids(const std::string &list) {
    std::vector<std::string> ids;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        ids.push_back(list.substr(start, list.find(':', start) - start));
        start = end + 1;
    }
    return ids;
}

softcsp::StoredCertificate Linked(softcsp::Bytes der) {
    return {std::move(der), softcsp::KeyProvInfo{"\\\\.\\REGISTRY\\k", "p", 75, softcsp::AT_SIGNATURE}};
}

class UkepDouble : public ::testing::Test {
protected:
    void SetUp() override {
        ukep_Done();
        UseCsp(&csp);
    }
    void TearDown() override {
        ukep_Done();
        // An empty table for the next test, then no double.
        csp.store.clear();
        csp.containers.clear();
        csp.acquireCode = 0;
        csp.storeCode = 0;
        List();
        ukep_Done();
        UseCsp(nullptr);
    }
    void InitOk() { ASSERT_EQ(Text(ukep_Init(nullptr)), ""); }

    UkepFakeCsp csp;
};

struct InitCase {
    const char *name;
    uint32_t acquireCode, versionCode, version;
    const char *text;
};

TEST_F(UkepDouble, InitCodesAndVersions) {
    const InitCase cases[] = {
        {"acquire fails", softcsp::NTE_PROV_TYPE_NOT_DEF, 0, 0x0500,
         "Ошибка вызова функции CryptAcquireContext 0x80090017"},
        {"version query fails", 0, softcsp::NTE_BAD_UID, 0x0500, "Ошибка вызова функции CryptGetProvParam 0x80090001"},
        {"3.255 rejected", 0, 0, 0x03FF, "Неизвестная версия КриптоПРО CSP: 0x03FF"},
        {"6.0 rejected", 0, 0, 0x0600, "Неизвестная версия КриптоПРО CSP: 0x0600"},
        {"low 16 bits shown", 0, 0, 0x00120600, "Неизвестная версия КриптоПРО CSP: 0x0600"},
        {"4.0 accepted", 0, 0, 0x0400, ""},
        {"5.255 accepted", 0, 0, 0x05FF, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        csp.acquireCode = c.acquireCode;
        csp.versionCode = c.versionCode;
        csp.version = c.version;
        EXPECT_EQ(Text(ukep_Init(nullptr)), c.text);
        EXPECT_EQ(csp.open.size(), *c.text ? 0u : 1u) << "a failed init holds no context";
        ukep_Done();
        EXPECT_TRUE(csp.open.empty());
        for (const auto &a : csp.acquired) {
            EXPECT_EQ(a.provider, "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider");
            EXPECT_EQ(a.type, 75u);
            EXPECT_EQ(a.flags, softcsp::CRYPT_VERIFYCONTEXT);
        }
        csp.acquired.clear();
    }
}

TEST_F(UkepDouble, DoneReleasesEveryDistinctHandleOnceAndRecordsStillSign) {
    InitOk();
    csp.containers["\\\\.\\REGISTRY\\a"] = MakeCertificate({.subject = {{"CN", "A"}}});
    csp.containers["\\\\.\\REGISTRY\\b"] = MakeCertificate({.subject = {{"CN", "B"}}});
    for (const char *cn : {"S1", "S2", "S3"}) csp.store.push_back(Linked(MakeCertificate({.subject = {{"CN", cn}}})));
    std::string list = List();
    ASSERT_EQ(Ids(list).size(), 5u) << list;
    // Library context, two containers, one shared store-pass context.
    EXPECT_EQ(csp.open.size(), 4u);

    csp.released.clear();
    EXPECT_EQ(Text(ukep_Done()), "");
    EXPECT_EQ(csp.released.size(), 4u);
    EXPECT_EQ(std::set<softcsp::ProvHandle>(csp.released.begin(), csp.released.end()).size(), 4u);
    EXPECT_TRUE(csp.open.empty());

    csp.released.clear();
    EXPECT_EQ(Text(ukep_Done()), "");
    EXPECT_TRUE(csp.released.empty()) << "a second Done releases nothing";

    void *signature = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(Text(ukep_SignData(Ids(list)[0].c_str(), "x", 1, &signature, &length)), "");
    EXPECT_EQ(length, 5u);
    ukep_ReleaseMemory(signature, static_cast<int32_t>(length));
}

TEST_F(UkepDouble, DoneAfterFailedInitReleasesNothing) {
    csp.version = 0x0300;
    EXPECT_NE(Text(ukep_Init(nullptr)), "");
    csp.released.clear();
    EXPECT_EQ(Text(ukep_Done()), "");
    EXPECT_EQ(Text(ukep_Done()), "");
    EXPECT_TRUE(csp.released.empty());
}

TEST_F(UkepDouble, ReEnumerationReleasesTheReplacedTable) {
    InitOk();
    csp.containers["\\\\.\\REGISTRY\\a"] = MakeCertificate({});
    csp.store.push_back(Linked(MakeCertificate({})));
    List();
    List();
    EXPECT_EQ(csp.open.size(), 3u) << "library context and the second table's two handles";
}

TEST_F(UkepDouble, WithoutInitEveryIdIsEmptyAndOneLineRemains) {
    csp.store.push_back(Linked(MakeCertificate({.subject = {{"CN", "First"}}})));
    csp.store.push_back(Linked(MakeCertificate({.subject = {{"CN", "Last"}}})));
    std::string list = List();
    EXPECT_EQ(list.rfind(":TGFzdA==|", 0), 0u) << list;  // "Last"
    EXPECT_EQ(list.find(','), std::string::npos);
}

TEST_F(UkepDouble, PassFailuresKeepThePreviousTable) {
    InitOk();
    csp.store.push_back(Linked(MakeCertificate({})));
    std::string id = Ids(List()).at(0);

    csp.storeCode = softcsp::CRYPT_E_NOT_FOUND;
    EXPECT_EQ(List(), "error: CertOpenSystemStore error 80092004");
    csp.storeCode = 0;
    csp.acquireCode = softcsp::NTE_BAD_KEYSET;
    EXPECT_EQ(List(), "error: CryptAcquireContext error 80090016");
    csp.acquireCode = 0;

    void *signature = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(Text(ukep_SignData(id.c_str(), "x", 1, &signature, &length)), "");
    EXPECT_NE(signature, nullptr);
    ukep_ReleaseMemory(signature, static_cast<int32_t>(length));
    EXPECT_EQ(csp.open.size(), 2u) << "the failed runs left no handle open";
}

TEST_F(UkepDouble, ContainerEnumerationFailureEndsThePassQuietly) {
    InitOk();
    csp.enumCode = softcsp::NTE_FAIL;
    csp.containers["\\\\.\\REGISTRY\\a"] = MakeCertificate({});
    EXPECT_EQ(List(), "");
}

struct SignCase {
    uint32_t code;
    const char *sizeQueryText;
    const char *signingText;
};

TEST_F(UkepDouble, EachCodeAfterEachCallGivesItsText) {
    InitOk();
    csp.store.push_back(Linked(MakeCertificate({})));
    std::string id = Ids(List()).at(0);
    const SignCase cases[] = {
        {softcsp::NTE_NO_KEY, "Отсутствует ключ ЭП (проверьте подключен ли токен)",
         "Отсутствует ключ ЭП (проверьте подключен ли токен)"},
        {softcsp::NTE_BAD_KEYSET, "Контейнер ключа ЭП не существует или пользователь отказался от подписи",
         "Контейнер ключа ЭП не существует или пользователь отказался от подписи"},
        {softcsp::CRYPT_E_NO_KEY_PROPERTY, "У сертификата отсутствует ключ ЭП", "У сертификата отсутствует ключ ЭП"},
        {softcsp::SCARD_W_CANCELLED_BY_USER, "Действие отменено пользователем", "Действие отменено пользователем"},
        {softcsp::NTE_BAD_ALGID, "Ошибка выработки ЭП на этапе подготовки 0x80090008",
         "Ошибка выработки ЭП 0x80090008"},
        {0x0000abcd, "Ошибка выработки ЭП на этапе подготовки 0x0000ABCD", "Ошибка выработки ЭП 0x0000ABCD"},
    };
    for (const auto &c : cases) {
        for (int call = 0; call < 2; ++call) {
            SCOPED_TRACE(::testing::Message() << std::hex << c.code << " call " << call);
            csp.linkCodes = call == 0 ? std::deque<uint32_t>{c.code} : std::deque<uint32_t>{0, c.code};
            void *signature = reinterpret_cast<void *>(0x1);
            uint32_t length = 77;
            EXPECT_EQ(Text(ukep_SignData(id.c_str(), "data", 4, &signature, &length)),
                      call == 0 ? c.sizeQueryText : c.signingText);
            EXPECT_EQ(signature, reinterpret_cast<void *>(0x1)) << "outputs untouched on failure";
            EXPECT_EQ(length, 77u);
        }
    }
}

TEST_F(UkepDouble, UnknownIdsSucceedWithoutSignature) {
    void *signature = reinterpret_cast<void *>(0x1);
    uint32_t length = 9;
    EXPECT_EQ(Text(ukep_SignData("00", "x", 1, &signature, &length)), "") << "before any enumeration";
    EXPECT_EQ(signature, nullptr);
    EXPECT_EQ(length, 0u);

    InitOk();
    csp.store.push_back(Linked(MakeCertificate({})));
    std::string id = Ids(List()).at(0);
    std::string lower = id;
    for (char &ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    ASSERT_NE(lower, id);
    for (const std::string &unknown : {lower, id.substr(1), std::string()}) {
        signature = reinterpret_cast<void *>(0x1);
        length = 9;
        EXPECT_EQ(Text(ukep_SignData(unknown.c_str(), "x", 1, &signature, &length)), "");
        EXPECT_EQ(signature, nullptr);
        EXPECT_EQ(length, 0u);
    }
    EXPECT_TRUE(csp.linkOids.empty());
}

TEST_F(UkepDouble, HashOidIsTheCertificatesSignatureAlgorithmFittedToItsKey) {
    InitOk();
    softcsp::PkeyPtr key512 = softcsp::GenerateGostKey("1.2.643.7.1.2.1.2.1");
    const struct {
        const char *name;
        IssuerKey issuer;
        bool key512;
        const char *oid;
    } cases[] = {
        {"256 key, 256 issuer: the certificate's own OID", IssuerKey::Gost256, false, "1.2.643.7.1.1.3.2"},
        {"512 key, 512 issuer: the certificate's own OID", IssuerKey::Gost512, true, "1.2.643.7.1.1.3.3"},
        {"512 key, 256 issuer: the key's kind", IssuerKey::Gost256, true, "1.2.643.7.1.1.3.3"},
        {"256 key, 512 issuer: the key's kind", IssuerKey::Gost512, false, "1.2.643.7.1.1.3.2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        csp.store = {Linked(MakeCertificate({.issuerKey = c.issuer},
                                            c.key512 ? softcsp::PublicKeyInfo(key512.get()) : softcsp::Bytes{}))};
        std::string id = Ids(List()).at(0);
        void *signature = nullptr;
        uint32_t length = 0;
        csp.linkOids.clear();
        ASSERT_EQ(Text(ukep_SignData(id.c_str(), "x", 1, &signature, &length)), "");
        ukep_ReleaseMemory(signature, static_cast<int32_t>(length));
        EXPECT_EQ(csp.linkOids, (std::vector<std::string>{c.oid, c.oid}));
    }
}

TEST_F(UkepDouble, NullOutputsAreRefusedNotFollowed) {
    InitOk();
    csp.store.push_back(Linked(MakeCertificate({})));
    std::string id = Ids(List()).at(0);
    char *list = nullptr;
    int32_t length = 0;
    void *signature = nullptr;
    uint32_t signatureLength = 0;
    EXPECT_EQ(Text(ukep_EnumerateCertificates(nullptr, &length)), "invalid argument");
    EXPECT_EQ(Text(ukep_EnumerateCertificates(&list, nullptr)), "invalid argument");
    EXPECT_EQ(Text(ukep_SignData(id.c_str(), nullptr, 5, &signature, &signatureLength)), "invalid argument");
    EXPECT_EQ(Text(ukep_SignData(id.c_str(), "x", 1, nullptr, &signatureLength)), "invalid argument");
    EXPECT_EQ(Text(ukep_SignData(id.c_str(), "x", 1, &signature, nullptr)), "invalid argument");
    EXPECT_EQ(Text(ukep_SignData(nullptr, "x", 1, &signature, &signatureLength)), "");
    EXPECT_EQ(signature, nullptr);
    EXPECT_TRUE(csp.linkOids.empty());
}

TEST_F(UkepDouble, ReleaseFunctionsWipeAndAcceptNull) {
    ukep_ReleaseMemory(nullptr, 0);
    cp_ReleaseMemory(nullptr, 0);
    ukep_ReleaseMemory(zolm::NewBlock("abc", 3), 3);
    cp_ReleaseMemory(zolm::NewBlock("abc", 3), 3);
    ukep_ReleaseMemory(zolm::NewBlock("abc", 3), -1);
}

}  // namespace
}  // namespace ukep::testing
