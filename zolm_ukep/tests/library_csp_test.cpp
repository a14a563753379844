// The exports against the real software CSP in a private folder: containers and "My" made here with
// OpenSSL certificates, the list parsed back field by field, signatures checked by the openssl command.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "zolm/ukep.h"
#include "zolm_ukep/csp_access.h"
#include "zolm_ukep/pin_prompt.h"
#include "zolm_ukep/tests/cert_factory.h"

namespace ukep::testing {
namespace {

using softcsp::Bytes;
namespace fs = std::filesystem;

std::string Text(char *result) {
    if (result == nullptr) return "";
    std::string text = result;
    ukep_ReleaseMemory(result, static_cast<int32_t>(text.size() + 1));
    return text;
}

std::string FromBase64(const std::string &text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        size_t v = kAlphabet.find(c);
        if (v == std::string::npos) ADD_FAILURE() << "not Base64: " << text;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::string Thumbprint(const Bytes &der) {
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), digest);
    char hex[41];
    for (int i = 0; i < 20; ++i) std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    return hex;
}

std::string FileTimeHex(long unixTime) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX",
                  (static_cast<unsigned long long>(unixTime) + 11644473600ull) * 10000000ull);
    return text;
}

struct Line {
    std::string id, displayName, times, subjectJson, shortName, issuerName;
};

// Splits the list at "," and each line at ":" and "|", decoding the Base64 fields.
std::vector<Line> Parse(const std::string &list) {
    std::vector<Line> lines;
    if (list.empty()) return lines;
    std::stringstream all(list);
    for (std::string text; std::getline(all, text, ',');) {
        size_t colon = text.find(':');
        std::vector<std::string> parts;
        std::stringstream rest(text.substr(colon + 1));
        for (std::string part; std::getline(rest, part, '|');) parts.push_back(part);
        if (!text.empty() && text.back() == '|') parts.push_back("");
        EXPECT_EQ(parts.size(), 5u) << text;
        parts.resize(5);
        lines.push_back({text.substr(0, colon), FromBase64(parts[0]), parts[1], FromBase64(parts[2]),
                         FromBase64(parts[3]), FromBase64(parts[4])});
    }
    return lines;
}

class ScriptedPrompt : public PinPrompt {
public:
    std::vector<std::string> answers;  // "" ends the answers: cancelled
    std::vector<std::string> errors;
    std::optional<std::string> Ask(const std::string &, const std::string &error) override {
        errors.push_back(error);
        if (errors.size() > answers.size() || answers[errors.size() - 1].empty()) return std::nullopt;
        return answers[errors.size() - 1];
    }
};

class UkepCsp : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ukep-csp-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        csp_ = softcsp::OpenSoftCsp(dir_ + "/csp", 0x0500);
        UseCsp(csp_.get());
        ASSERT_EQ(Text(ukep_Init(nullptr)), "");
    }
    void TearDown() override {
        ukep_Done();
        fs::remove_all(dir_ + "/csp");
        List();  // an empty table for the next test
        ukep_Done();
        UseCsp(nullptr);
        UsePrompt(nullptr);
        fs::remove_all(dir_);
    }

    // A container with a new key of kind 256 or 512 and this certificate kept with it.
    Bytes Container(const std::string &name, CertSpec wanted, int bits = 256, uint32_t keySpec = softcsp::AT_KEYEXCHANGE,
                    const char *pin = nullptr) {
        softcsp::ProvHandle h = 0;
        std::string path = "\\\\.\\REGISTRY\\" + name;
        bool strong = bits == 512;
        EXPECT_EQ(csp_->AcquireContext(&h, path.c_str(), strong ? softcsp::kProvider2012Strong : softcsp::kProvider2012,
                                       strong ? softcsp::PROV_GOST_2012_512 : softcsp::PROV_GOST_2012_256,
                                       softcsp::CRYPT_NEWKEYSET),
                  0u);
        EXPECT_EQ(csp_->SetSignatureParamSet(h, strong ? "1.2.643.7.1.2.1.2.1" : "1.2.643.7.1.2.1.1.1"), 0u);
        if (pin != nullptr) {
            EXPECT_EQ(csp_->SetPin(h, pin), 0u);
        }
        EXPECT_EQ(csp_->GenerateKey(h, keySpec), 0u);
        Bytes spki;
        EXPECT_EQ(csp_->ExportPublicKeyInfo(h, keySpec, &spki), 0u);
        Bytes der = MakeCertificate(wanted, spki);
        EXPECT_EQ(csp_->SetKeyCertificate(h, keySpec, der), 0u);
        csp_->ReleaseContext(h);
        return der;
    }
    void AddToMy(const Bytes &der, const std::string &container = "", uint32_t keySpec = softcsp::AT_KEYEXCHANGE) {
        softcsp::StoredCertificate entry{der, std::nullopt};
        if (!container.empty())
            entry.keyProv = softcsp::KeyProvInfo{"\\\\.\\REGISTRY\\" + container, softcsp::kProvider2012, 80, keySpec};
        EXPECT_EQ(csp_->AddToStore("My", entry), 0u);
    }
    std::string List() {
        char *list = nullptr;
        int32_t length = -1;
        std::string error = Text(ukep_EnumerateCertificates(&list, &length));
        if (!error.empty()) return "error: " + error;
        std::string text(list, static_cast<size_t>(length));
        EXPECT_EQ(list[length], '\0');
        ukep_ReleaseMemory(list, length);
        return text;
    }
    Bytes Sign(const std::string &id, const std::string &data, std::string *error) {
        void *signature = nullptr;
        uint32_t length = 0;
        *error = Text(ukep_SignData(id.c_str(), data.data(), static_cast<uint32_t>(data.size()), &signature, &length));
        Bytes out(static_cast<uint8_t *>(signature), static_cast<uint8_t *>(signature) + length);
        ukep_ReleaseMemory(signature, static_cast<int32_t>(length));
        return out;
    }
    // openssl cms -verify over the data with the included certificate; the signer it found as DER.
    bool OpensslVerifies(const Bytes &signature, const std::string &data, const Bytes &signer) {
        std::ofstream(dir_ + "/sig.der", std::ios::binary)
            .write(reinterpret_cast<const char *>(signature.data()), static_cast<std::streamsize>(signature.size()));
        std::ofstream(dir_ + "/data.bin", std::ios::binary) << data;
        std::string command = "openssl cms -verify -engine gost -binary -noverify -inform DER -in " + dir_ +
                              "/sig.der -content " + dir_ + "/data.bin -signer " + dir_ + "/signer.pem -out " + dir_ +
                              "/out.bin >/dev/null 2>" + dir_ + "/err.txt && openssl x509 -in " + dir_ +
                              "/signer.pem -outform DER -out " + dir_ + "/signer.der 2>>" + dir_ + "/err.txt";
        if (std::system(command.c_str()) != 0) {
            std::ifstream err(dir_ + "/err.txt");
            ADD_FAILURE() << std::string(std::istreambuf_iterator<char>(err), {});
            return false;
        }
        std::ifstream in(dir_ + "/signer.der", std::ios::binary);
        Bytes found((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(found, signer) << "the included certificate is the listed one";
        return found == signer;
    }

    std::string dir_;
    std::unique_ptr<softcsp::Csp> csp_;
};

TEST_F(UkepCsp, EmptyListIsAOneByteBlock) {
    char *list = nullptr;
    int32_t length = -1;
    ASSERT_EQ(Text(ukep_EnumerateCertificates(&list, &length)), "");
    EXPECT_EQ(length, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], '\0');
    ukep_ReleaseMemory(list, length);
}

TEST_F(UkepCsp, ListsEligibleCertificatesFieldByField) {
    const CertSpec person{.subject = {{"CN", "Иванов Иван"},
                                      {"SN", "Иванов"},
                                      {"GN", "Иван"},
                                      {"O", "ООО \"Рога и копыта\""},
                                      {"OU", "отдел\\1"},
                                      {"1.2.643.100.3", "12345678901"},
                                      {"1.2.3.4.5", "прочее"}},
                          .notBefore = 1700000000,
                          .notAfter = 1800000000};
    Bytes onlyContainer = Container("person", person);
    // In a container and in "My": one line, the store's (with the issuer's last commonName).
    const CertSpec both{.subject = {{"CN", "Both"}},
                        .issuer = {{"CN", "Root"}, {"O", "Org"}, {"CN", "Sub CA"}},
                        .issuerKey = IssuerKey::Gost512};
    Bytes inBoth = Container("both", both, 512);
    AddToMy(inBoth, "both");
    // A signature key: the container pass looks for the exchange key only, the store lists it.
    Bytes signatureKey = Container("sigkey", {.subject = {{"CN", "Signature key"}}}, 256, softcsp::AT_SIGNATURE);
    AddToMy(signatureKey, "sigkey", softcsp::AT_SIGNATURE);
    // A CA certificate is refused by the store pass only.
    Bytes caInContainer = Container("ca", {.subject = {{"CN", "CA in container"}}, .ca = true});
    AddToMy(MakeCertificate({.subject = {{"CN", "CA in store"}}, .ca = true}), "ca");
    // Never listed: RSA-signed, no key link, no display name in the store.
    Container("rsa", {.subject = {{"CN", "RSA"}}, .issuerKey = IssuerKey::Rsa});
    AddToMy(MakeCertificate({.subject = {{"CN", "RSA"}}, .issuerKey = IssuerKey::Rsa}), "rsa");
    AddToMy(MakeCertificate({.subject = {{"CN", "No link"}}}));
    AddToMy(MakeCertificate({.subject = {{"SN", "Безымянный"}}}), "person");

    std::string list = List();
    std::vector<Line> lines = Parse(list);
    std::map<std::string, Line> byId;
    for (const auto &line : lines) byId[line.id] = line;
    ASSERT_EQ(lines.size(), 4u) << list;
    ASSERT_EQ(byId.size(), 4u);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1].id, lines[i].id) << "ascending ids";

    const Line &p = byId.at(Thumbprint(onlyContainer));
    EXPECT_EQ(p.displayName, "Иванов Иван");
    EXPECT_EQ(p.times, FileTimeHex(1700000000) + FileTimeHex(1800000000));
    EXPECT_EQ(p.subjectJson,
              "[{\"OID\":\"commonName\",\"OIDCODE\":\"2.5.4.3\",\"VALUE\":\"Иванов Иван\"},"
              "{\"OID\":\"surname\",\"OIDCODE\":\"2.5.4.4\",\"VALUE\":\"Иванов\"},"
              "{\"OID\":\"givenName\",\"OIDCODE\":\"2.5.4.42\",\"VALUE\":\"Иван\"},"
              "{\"OID\":\"organizationName\",\"OIDCODE\":\"2.5.4.10\",\"VALUE\":\"ООО \\\"Рога и копыта\\\"\"},"
              "{\"OID\":\"organizationalUnitName\",\"OIDCODE\":\"2.5.4.11\",\"VALUE\":\"отдел\\1\"},"
              "{\"OID\":\"SNILS\",\"OIDCODE\":\"1.2.643.100.3\",\"VALUE\":\"12345678901\"},"
              "{\"OID\":\"1.2.3.4.5\",\"OIDCODE\":\"1.2.3.4.5\",\"VALUE\":\"прочее\"}]");
    EXPECT_EQ(p.shortName, "Иванов Иван");
    EXPECT_EQ(p.issuerName, "") << "container pass";
    EXPECT_EQ(list.find(Thumbprint(onlyContainer) + ":"), list.find(Thumbprint(onlyContainer)));

    const Line &b = byId.at(Thumbprint(inBoth));
    EXPECT_EQ(b.displayName, "Both");
    EXPECT_EQ(b.shortName, " ");
    EXPECT_EQ(b.issuerName, "Sub CA") << "the store pass's record won";

    EXPECT_EQ(byId.at(Thumbprint(signatureKey)).issuerName, "Test CA");
    EXPECT_EQ(byId.at(Thumbprint(caInContainer)).displayName, "CA in container");
}

TEST_F(UkepCsp, SignaturesVerifyWithOpenssl) {
    Bytes c256 = Container("c256", {.subject = {{"CN", "Key 256"}}});
    Bytes c512 = Container("c512", {.subject = {{"CN", "Key 512"}}, .issuerKey = IssuerKey::Gost512}, 512);
    AddToMy(c512, "c512");
    Bytes c512by256 = Container("mixed", {.subject = {{"CN", "512 by 256"}}}, 512);
    Bytes sigKey = Container("sig", {.subject = {{"CN", "Signature"}}}, 256, softcsp::AT_SIGNATURE);
    AddToMy(sigKey, "sig", softcsp::AT_SIGNATURE);
    ASSERT_EQ(Parse(List()).size(), 4u);
    const std::string data("binary\0data\xff with a NUL", 24);
    for (const Bytes *cert : {&c256, &c512, &c512by256, &sigKey}) {
        std::string error;
        Bytes signature = Sign(Thumbprint(*cert), data, &error);
        ASSERT_EQ(error, "");
        EXPECT_TRUE(OpensslVerifies(signature, data, *cert));
    }
    // Signing still works once ukep_Done has released the handles.
    ASSERT_EQ(Text(ukep_Done()), "");
    std::string error;
    EXPECT_TRUE(OpensslVerifies(Sign(Thumbprint(c256), data, &error), data, c256));
    EXPECT_EQ(error, "");
}

TEST_F(UkepCsp, KeyFailuresGiveTheirTexts) {
    Bytes gone = Container("gone", {.subject = {{"CN", "Gone"}}});
    AddToMy(gone, "gone");
    // Linked to a container that holds only a signature key.
    Bytes sigOnly = Container("sigonly", {.subject = {{"CN", "Signature only"}}}, 256, softcsp::AT_SIGNATURE);
    Bytes wrongSpec = MakeCertificate({.subject = {{"CN", "Wrong key type"}}});
    AddToMy(wrongSpec, "sigonly", softcsp::AT_KEYEXCHANGE);
    // Linked to a key that is not the certificate's.
    Bytes foreign = MakeCertificate({.subject = {{"CN", "Foreign key"}}});
    AddToMy(foreign, "sigonly", softcsp::AT_SIGNATURE);
    ASSERT_EQ(Parse(List()).size(), 3u);
    softcsp::ProvHandle h = 0;
    ASSERT_EQ(csp_->AcquireContext(&h, "\\\\.\\REGISTRY\\gone", nullptr, 80, softcsp::CRYPT_DELETEKEYSET), 0u);
    const std::pair<const Bytes *, const char *> cases[] = {
        {&gone, "Контейнер ключа ЭП не существует или пользователь отказался от подписи"},
        {&wrongSpec, "Отсутствует ключ ЭП (проверьте подключен ли токен)"},
        {&foreign, "Ошибка выработки ЭП на этапе подготовки 0x80090015"},
    };
    for (const auto &[cert, text] : cases) {
        std::string error;
        EXPECT_TRUE(Sign(Thumbprint(*cert), "x", &error).empty());
        EXPECT_EQ(error, text);
    }
}

TEST_F(UkepCsp, PinIsAskedOnceAndWrongPinsAskAgain) {
    Bytes der = Container("pin", {.subject = {{"CN", "PIN"}}}, 256, softcsp::AT_KEYEXCHANGE, "1234");
    ASSERT_EQ(Parse(List()).size(), 1u);
    ScriptedPrompt prompt;
    UsePrompt(&prompt);
    std::string error;

    prompt.answers = {""};
    EXPECT_TRUE(Sign(Thumbprint(der), "data", &error).empty());
    EXPECT_EQ(error, "Действие отменено пользователем");

    prompt = {};
    prompt.answers = {"0000", "1234"};
    Bytes signature = Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(prompt.errors, (std::vector<std::string>{"", "Неверный PIN-код"})) << "asked for both calls once";
    EXPECT_TRUE(OpensslVerifies(signature, "data", der));

    prompt = {};
    prompt.answers = {"1", "2", "3"};
    Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "Ошибка выработки ЭП на этапе подготовки 0x8010006B");
}

// The pinentry program itself, replaced by a script that speaks its protocol.
TEST_F(UkepCsp, PinentryProtocol) {
    Bytes der = Container("pin", {.subject = {{"CN", "PIN"}}}, 256, softcsp::AT_KEYEXCHANGE, "12%4");
    ASSERT_EQ(Parse(List()).size(), 1u);
    auto script = [&](const std::string &getpinAnswer) {
        std::string path = dir_ + "/pinentry";
        std::ofstream(path) << "#!/bin/sh\necho 'OK Pleased to meet you'\nwhile read -r cmd rest; do\n"
                               "  case \"$cmd\" in\n    GETPIN) printf '%s\\n' " +
                                   getpinAnswer + " ;;\n    BYE) echo OK; exit 0 ;;\n    *) echo OK ;;\n  esac\ndone\n";
        fs::permissions(path, fs::perms::owner_all);
        setenv("ZOLM_PINENTRY", path.c_str(), 1);
    };
    std::string error;
    script("'D 12%254' OK");
    Bytes signature = Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "");
    EXPECT_TRUE(OpensslVerifies(signature, "data", der));

    script("'ERR 83886179 Operation cancelled'");
    Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "Действие отменено пользователем");

    setenv("ZOLM_PINENTRY", (dir_ + "/missing").c_str(), 1);
    Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "Действие отменено пользователем");
    unsetenv("ZOLM_PINENTRY");

    // No desktop and no program named: nobody can be asked.
    std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    std::string wayland = getenv("WAYLAND_DISPLAY") ? getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    Sign(Thumbprint(der), "data", &error);
    EXPECT_EQ(error, "Действие отменено пользователем");
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
}

}  // namespace
}  // namespace ukep::testing
