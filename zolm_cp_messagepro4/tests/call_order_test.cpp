// The order and arguments of the plug-in's library calls, observed through the recording double of
// libmespro.so; scripted failure codes give the error texts and the clean-up paths.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/shared_data_fixture.h"
#include "testing/test_host.h"
#include "zolm/provider.h"
#include "zolm_cp_messagepro4/tests/library_double/library_double.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

const std::string kDir = MESPRO_DOUBLE_DIR "/";

// The plug-in bound to the double, and the double's controls.
struct Plugin {
    Plugin() {
        handle = dlopen((kDir + "zolm_cp_messagepro4.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        library = dlopen((kDir + "libmespro.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
    template <typename F>
    F *Get(void *from, const char *name) {
        return reinterpret_cast<F *>(dlsym(from, name));
    }
    void *handle;
    void *library;
};

Plugin &P() {
    static Plugin plugin;
    return plugin;
}

#define EXPORT(name) P().Get<name##_fn>(P().handle, #name)
#define CONTROL(name) P().Get<decltype(name)>(P().library, #name)

std::string Take(char *result) {
    if (result == nullptr) return "";
    std::string text = result;
    EXPORT(cp_ReleaseMemory)(result, static_cast<uint32_t>(text.size() + 1));
    return text;
}

const char kTemplate[] = R"(<response>
  <SubjectSignTool><SignTool>tool</SignTool></SubjectSignTool>
  <Subject>
    <OID order="3"><Key>2.5.4.3</Key><Value>Name</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
    <OID order="2"><Key>INN</Key><Value>007701234567</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag></BasicKeyUsage>
    <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.2</Key><Value>x</Value></OID></ExtendedKeyUsage>
    <CertificatePolicies critical="true"><OID><Key>1.2.643.100.113.1</Key><Value>x</Value></OID></CertificatePolicies>
  </Extensions>
  <SignAlgorithm/>
</response>)";

class CallOrder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(P().handle, nullptr) << dlerror();
        ASSERT_NE(P().library, nullptr) << "the plug-in is not bound to the double";
        ASSERT_EQ(Take(EXPORT(cp_Init)(host.Table(), kDir.c_str())), "");
        CONTROL(MesproDouble_Reset)();
        path = host.Root().string();
    }
    std::string Log() { return CONTROL(MesproDouble_Log)(); }
    // The medium's directory as the host gives it, for the expected argument texts.
    std::string Dir(uint32_t medium) {
        char *text = nullptr;
        host.Table()->medium->getPath(medium, &text);
        std::string dir = text;
        host.Table()->medium->releaseMemory(medium, text, static_cast<uint32_t>(dir.size() + 1));
        return dir;
    }

    zolm::testing::PrivateSharedDataName sharedData;
    zolm::testing::TestHost host;
    std::string path;
};

TEST_F(CallOrder, Pkcs10RequestAppliesTheTemplateInOrder) {
    const std::string d = Dir(1);
    ASSERT_EQ(Take(EXPORT(cp_MakeRequest)(1, "pending", kTemplate)), "");
    EXPECT_EQ(Log(),
              "SetKeysPasswordCallbackFun(ptr)\n"
              "PKCS7Init(\"" +
                  d +
                  "\", 0)\n"
                  "SetInputCodePage(1)\nSetOutputCodePage(1)\nResetDistinguishedName()\nResetExtensions()\n"
                  "SetCertificateRequestFlags(8)\n"
                  "SetDistinguishedNameAttribute(\"2.5.4.6\", \"RU\")\n"
                  "SetDistinguishedNameAttribute(\"INN\", \"007701234567\")\n"
                  "SetDistinguishedNameAttribute(\"2.5.4.3\", \"Name\")\n"
                  "SetKeyUsage(3, 1)\n"
                  "AddExtendedKeyUsage(\"1.3.6.1.5.5.7.3.2\", 0)\n"
                  "AddCertificatePolicy(\"1.2.643.100.113.1\", 1)\n"
                  "SetSubjectSignTool()\n"
                  "SetCertificateRequestFlags(2)\n"
                  "MakePSECertificateRequest(\"" +
                  d + "req.pem\", \"" + d + "\", \"" + d +
                  "keyn.der\", 0, 0)\n"
                  "PKCS7Final()\n");
}

TEST_F(CallOrder, TemplateVariantsChangeOnlyTheirCalls) {
    struct Case {
        const char *name;
        const char *extensions;
        const char *present;  // a call that must be there, or null
        const char *absent;   // a call that must not be there, or null
    };
    const Case cases[] = {
        {"no basic constraints element", "", nullptr, "SetBasicConstraints"},
        {"basic constraints ca 0", "<BasicConstraints ca=\"0\"/>", "SetBasicConstraints(0, 0)", nullptr},
        {"critical CA", "<BasicConstraints ca=\"true\" critical=\"1\"/>", "SetBasicConstraints(1, 1)", nullptr},
        {"only unknown key usage names", "<BasicKeyUsage><Flag>DigitalSignature</Flag></BasicKeyUsage>", nullptr,
         "SetKeyUsage"},
        {"all nine key usage names",
         "<BasicKeyUsage><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag><Flag>keyEncipherment</Flag>"
         "<Flag>dataEncipherment</Flag><Flag>keyAgreement</Flag><Flag>keyCertSign</Flag><Flag>cRLSign</Flag>"
         "<Flag>encipherOnly</Flag><Flag>decipherOnly</Flag></BasicKeyUsage>",
         "SetKeyUsage(511, 0)", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CONTROL(MesproDouble_Reset)();
        std::string xml =
            std::string("<response><SubjectSignTool><SignTool/></SubjectSignTool><Subject/><Extensions>") +
            c.extensions + "</Extensions><SignAlgorithm/></response>";
        ASSERT_EQ(Take(EXPORT(cp_MakeRequest)(1, "p", xml.c_str())), "");
        if (c.present != nullptr) {
            EXPECT_THAT(Log(), HasSubstr(c.present));
        }
        if (c.absent != nullptr) {
            EXPECT_THAT(Log(), ::testing::Not(HasSubstr(c.absent)));
        }
    }
    CONTROL(MesproDouble_Reset)();
    EXPECT_EQ(Take(EXPORT(cp_MakeRequest)(1, "p", "<response><Subject/></response>")),
              "No such node (response.SubjectSignTool.SignTool)");
    EXPECT_EQ(Log(), "") << "a template error ends the call before the library";
}

TEST_F(CallOrder, CmcRequestReleasesTheContextWhenAddSignerFails) {
    const std::string d = Dir(1);
    host.PutFile(1, "cert.pem", "certificate bytes");
    ASSERT_EQ(Take(EXPORT(cp_MakeRequestCMC)(1, kTemplate, "pending", "current", "CAS")), "");
    std::string log = Log();
    EXPECT_THAT(log, StartsWith("SetKeysPasswordCallbackFun(ptr)\nPKCS7Init(null, 0)\n"));
    EXPECT_THAT(log,
                EndsWith("SetSubjectSignTool()\nGetSignCTX()\nAddCAs(\"CAS\")\n"
                         "AddCertificateFromBuffer(ptr, 17)\nGetCertificateSerialBuffer(ptr, 17)\nFreeBuffer(ptr)\n"
                         "AddSigner(ptr, 2, \"0A1B\", 0)\n"
                         "AddPSEPrivateKeyEx(\"" +
                         d + "\", 0, \"" + d +
                         "key.der\", \"current\")\n"
                         "SetCertificateRequestFlags(16)\n"
                         "MakePSECertificateRequestEx(\"" +
                         d + "req.pem\", \"" + d + "\", \"" + d +
                         "keyn.der\", 0, 0, 2, \"0A1B\", 0)\n"
                         "PKCS7Final()\n"));

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("AddSigner", 129);
    EXPECT_THAT(Take(EXPORT(cp_MakeRequestCMC)(1, kTemplate, "pending", "current", "CAS")),
                MatchesRegex("AddSigner\\(\\) failed, MessageProError=129, Сертификат автора подписи не найден "
                             "\\(requests\\.cpp:[0-9]+\\)"));
    EXPECT_THAT(Log(), EndsWith("AddSigner(ptr, 2, \"0A1B\", 0)\nFreeSignCTX(ptr)\n"));

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("AddCertificateFromBuffer", 166);
    EXPECT_THAT(Take(EXPORT(cp_MakeRequestCMC)(1, kTemplate, "p", "c", "CAS")),
                StartsWith("AddCerificateFromBuffer() failed, MessageProError=166, Ошибка при чтении сертификата ("));

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("GetSignCTX", 161);
    EXPECT_THAT(Take(EXPORT(cp_MakeRequestCMC)(1, kTemplate, "p", "c", "CAS")),
                StartsWith("GetSignCTX() failed, MessageProError=0, Ошибка без описания (requests.cpp:"));
}

TEST_F(CallOrder, PasswordChecksFinishTheLibraryOnEveryWayOut) {
    int32_t accepted = -1;
    CONTROL(MesproDouble_Fail)("AddPSEPrivateKeyEx", 999);
    ASSERT_EQ(Take(EXPORT(cp_CheckPassword)(1, "pw", &accepted)), "");
    EXPECT_EQ(accepted, 0) << "any refusal is a wrong password, not an error";
    EXPECT_THAT(Log(), EndsWith("PKCS7Final()\n"));

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("PKCS7Init", 178);
    EXPECT_THAT(Take(EXPORT(cp_CheckPassword)(1, "pw", &accepted)),
                StartsWith("PKCS7Init() failed, MessageProError=178, Ошибка при инициализации криптобиблиотеки ("));
    EXPECT_EQ(Log(), "PKCS7Init(null, 0)\nPKCS7Final()\n");

    CONTROL(MesproDouble_Fail)("PKCS7Final", 212);
    EXPECT_THAT(Take(EXPORT(cp_ChangePassword)(1, "a", "b")),
                StartsWith("PKCS7Final() failed, MessageProError=212, Внутренняя ошибка (lifecycle.cpp:"))
        << "the finish's failure replaces the first error";

    CONTROL(MesproDouble_Reset)();
    host.Fail("getPath");
    EXPECT_EQ(Take(EXPORT(cp_ChangePassword)(1, "a", "b")), "ошибка при получении каталога ключевого носителя");
    EXPECT_EQ(Log(), "PKCS7Init(null, 0)\nPKCS7Final()\n");
}

TEST_F(CallOrder, GenerationAndItsCallbacks) {
    const std::string d = Dir(1);
    host.SetParameter("no_key_callback", "1");
    CONTROL(MesproDouble_Fail)("PSE_Generation", 180);
    ASSERT_EQ(Take(EXPORT(cp_GenerateKey)(1, "new", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")), "");
    EXPECT_EQ(Log(),
              "PKCS7Init(null, 0)\n"
              "PSE_Generation(\"" +
                  d +
                  "\", 0, 0, 1)\n"
                  "SetNewKeysAlgorithm(\"GOST3410-2012-256-A-ParamSet\")\n"
                  "SetKeysNewPasswordCallbackFun(ptr)\n"
                  "NewKeysGenerationEx(\"" +
                  d + "\", 0, \"" + d +
                  "keyn.der\", \"\", 0)\n"
                  "PKCS7Final()\n");
    char buffer[64];
    EXPECT_EQ(CONTROL(MesproDouble_AskPassword)(1, "", buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "new");
    EXPECT_EQ(CONTROL(MesproDouble_AskPassword)(1, "", buffer, 3), -1) << "a password that does not fit is refused";

    for (const char *value : {"0", "true", ""}) {
        CONTROL(MesproDouble_Reset)();
        host.SetParameter("no_key_callback", value);
        ASSERT_EQ(Take(EXPORT(cp_GenerateKey)(1, "new", "", "")), "");
        EXPECT_THAT(Log(), StartsWith("SetRandInitCallbackFun(ptr)\n")) << value;
        EXPECT_THAT(Log(), HasSubstr("SetNewKeysAlgorithm(\"ECR3410\")"));
    }

    // Key presses: printable characters other than the blank go to the host, with 40 and the value.
    host.ClearCalls();
    EXPECT_EQ(CONTROL(MesproDouble_KeyPress)(' ', 5), -1);
    EXPECT_EQ(CONTROL(MesproDouble_KeyPress)(127, 5), -1);
    EXPECT_EQ(host.Count("keyPress"), 0u);
    host.GiveKeys("\xE9");
    EXPECT_EQ(CONTROL(MesproDouble_KeyPress)('a', 5), -23) << "the pressed byte widens as a signed character";
    EXPECT_EQ(CONTROL(MesproDouble_KeyPress)('a', 4), -1) << "no key from the host";
    ASSERT_EQ(host.Count("keyPress"), 2u);
    EXPECT_EQ(host.Calls().back().args, (std::vector<std::string>{"1", "97", "4", "40"}));

    const std::pair<int32_t, const char *> codes[] = {
        {999, "NewKeysGenerationEx() failed, MessageProError=999, Ошибка без описания (provider.cpp:"},
        {1, "NewKeysGenerationEx() failed, MessageProError=1, Ошибка без описания (provider.cpp:"},
        {103, "NewKeysGenerationEx() failed, MessageProError=103, Ошибка при выделении памяти (provider.cpp:"},
        {17, "NewKeysGenerationEx() failed, MessageProError=17, Ошибка при выделении памяти (provider.cpp:"},
    };
    for (const auto &[code, text] : codes) {
        CONTROL(MesproDouble_Reset)();
        CONTROL(MesproDouble_Fail)("NewKeysGenerationEx", code);
        EXPECT_THAT(Take(EXPORT(cp_GenerateKey)(1, "new", "", "")), StartsWith(text));
    }
    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("PSE_Generation", 179);
    EXPECT_THAT(
        Take(EXPORT(cp_GenerateKey)(1, "new", "", "")),
        StartsWith("PSE_Generation() failed, MessageProError=179, Ошибка при создании ключевого носителя СКЗИ ("));
}

TEST_F(CallOrder, KeyFilePasswordFollowsTheFileName) {
    host.PutFile(1, "cert.pem", "c");
    ASSERT_EQ(Take(EXPORT(cp_MakeRequestCMC)(1, kTemplate, "pendingPw", "currentPw", "CAS")), "");
    char buffer[64];
    const std::pair<const char *, const char *> cases[] = {
        {"/media/keyn.der", "pendingPw"}, {"keyn.der", "pendingPw"}, {"/media/key.der", "currentPw"},
        {"/media/KEYN.DER", "currentPw"}, {"eyn.der", "currentPw"},  {"", "currentPw"},
    };
    for (const auto &[file, expected] : cases) {
        ASSERT_EQ(CONTROL(MesproDouble_AskPassword)(0, file, buffer, sizeof buffer),
                  static_cast<int32_t>(strlen(expected)));
        EXPECT_STREQ(buffer, expected) << file;
    }
}

TEST_F(CallOrder, SigningCallsAndLateFailures) {
    const std::string d = Dir(1);
    void *signature = nullptr;
    uint32_t length = 0;
    char *info = nullptr;
    ASSERT_EQ(Take(EXPORT(cp_SignData)(1, "pw", "", 0, 12345, &signature, &length, &info)), "");
    EXPECT_EQ(Log(), "PKCS7Init(\"" + d +
                         "\", 0)\nAddCAs(\"../../CA\")\n"
                         "AddPSEPrivateKeyEx(\"" +
                         d + "\", 0, \"" + d +
                         "key.der\", \"pw\")\n"
                         "GetSignCTX()\nAddSigner(ptr, 0, \"" +
                         d +
                         "cert.pem\", 0)\n"
                         "InsertCertificateToSign(1)\nInsertSigningTimeToSign(1)\n"
                         "SignBufferEx(ptr, ptr, 0, 1)\nFreeSignCTX(ptr)\nFreeBuffer(ptr)\nPKCS7Final()\n");
    EXPECT_EQ(std::string(static_cast<char *>(signature), length), "SIGNATURE");
    EXPECT_EQ(info[0], '\0');
    EXPORT(cp_ReleaseMemory)(signature, length);
    EXPORT(cp_ReleaseMemory)(info, 1);

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("PKCS7Final", 119);
    std::string text = Take(EXPORT(cp_SignData)(1, "pw", "x", 1, 0, &signature, &length, &info));
    EXPECT_THAT(text, StartsWith("PKCS7Final() failed, MessageProError=119, "
                                 "Ошибка при завершении процедуры подписи или шифрования (signing.cpp:"));
    ASSERT_EQ(length, 9u) << "the outputs are set before the library is finished";
    EXPORT(cp_ReleaseMemory)(signature, length);
    EXPORT(cp_ReleaseMemory)(info, 1);

    CONTROL(MesproDouble_Reset)();
    CONTROL(MesproDouble_Fail)("GetSignCTX", 161);
    signature = nullptr;
    EXPECT_THAT(Take(EXPORT(cp_SignData)(1, "pw", "x", 1, 0, &signature, &length, &info)),
                MatchesRegex("GetSignCTX\\(\\) failed, GetMessageProLastError=161, Библиотека не инициализирована "
                             "\\(signing\\.cpp:[0-9]+\\)"));
    EXPECT_EQ(signature, nullptr) << "a failure before the outputs writes none";
}

TEST_F(CallOrder, FailedKeyStoreCopyWritesNoKeyFile) {
    host.PutFile(1, "key.der", "current");
    host.PutFile(1, "keyn.der", "pending");
    int32_t copied = -1;
    CONTROL(MesproDouble_Fail)("PSE_Copy", 177);
    EXPECT_THAT(Take(EXPORT(cp_CopyKey)(1, 2, &copied)),
                StartsWith("PSE_Copy() failed, MessageProError=177, "
                           "Ошибка при создании резервной копии ключевого носителя СКЗИ (lifecycle.cpp:"));
    EXPECT_EQ(copied, 0);
    EXPECT_FALSE(host.HasFile(2, "key.der"));
    EXPECT_EQ(Log(), "PKCS7Init(null, 0)\nPSE_Copy(\"" + Dir(1) + "\", 0, \"" + Dir(2) + "\", 1)\n");
}

}  // namespace

namespace {

TEST_F(CallOrder, FileStagesUseOnlyTheHost) {
    host.PutFile(1, "keyn.der", "pending");
    host.ClearCalls();
    ASSERT_EQ(Take(EXPORT(cp_DestroyKey)(1)), "");
    EXPECT_EQ(host.Count("fileExists"), 5u);
    EXPECT_EQ(host.Count("deleteFile"), 1u);
    EXPECT_FALSE(host.HasFile(1, "keyn.der"));

    host.ClearCalls();
    ASSERT_EQ(Take(EXPORT(cp_DeactivateKey)(1)), "");
    EXPECT_EQ(host.Count("deleteFile"), 0u);

    host.PutFile(1, "mk.db3", "store");
    host.PutFile(1, "kek.opq", "store");
    host.Fail("deleteFile", "mk.db3");
    EXPECT_EQ(Take(EXPORT(cp_DestroyKey)(1)), "ошибка при удалении файла mk.db3");
    EXPECT_TRUE(host.HasFile(1, "kek.opq")) << "destruction stops at the first failure";
    EXPECT_EQ(Log(), "") << "no library call";

    int32_t stored = 0;
    ASSERT_EQ(Take(EXPORT(cp_StoreCertificate)(1, 2, 3, &stored)), "");
    EXPECT_EQ(stored, 1);
}

}  // namespace

namespace {

// Each library function's own error text, with the code and its description, from the export that
// calls it.
TEST_F(CallOrder, EveryLibraryFailureHasItsOwnText) {
    const char kTemplateWithAll[] = R"(<response><SubjectSignTool><SignTool/></SubjectSignTool>
      <Subject><OID order="1"><Key>2.5.4.3</Key><Value>N</Value></OID></Subject>
      <Extensions><BasicKeyUsage><Flag>keyAgreement</Flag></BasicKeyUsage>
        <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.2</Key><Value/></OID></ExtendedKeyUsage>
        <CertificatePolicies><OID><Key>1.2.643.100.113.1</Key><Value/></OID></CertificatePolicies>
        <BasicConstraints ca="1"/></Extensions><SignAlgorithm/></response>)";
    host.PutFile(1, "cert.pem", "c");
    auto request = [&] { return EXPORT(cp_MakeRequest)(1, "p", kTemplateWithAll); };
    auto cmc = [&] { return EXPORT(cp_MakeRequestCMC)(1, kTemplateWithAll, "p", "c", "CAS"); };
    auto sign = [&] {
        void *signature = nullptr;
        uint32_t length = 0;
        char *info = nullptr;
        return EXPORT(cp_SignData)(1, "p", "x", 1, 0, &signature, &length, &info);
    };
    auto generate = [&] { return EXPORT(cp_GenerateKey)(1, "p", "", ""); };
    struct Case {
        const char *function;
        int32_t code;
        std::function<char *()> call;
        const char *text;  // up to the source position
        const char *file;
    };
    const Case cases[] = {
        {"SetCertificateRequestFlags", 150, request,
         "SetCertificateRequestFlags() failed, MessageProError=150, Ошибка при задании номера версии запроса",
         "requests"},
        {"SetDistinguishedNameAttribute", 145, request,
         "SetDistinguishedNameAttribute() failed, MessageProError=145, Ошибка в формате составного имени", "requests"},
        {"SetKeyUsage", 203, request,
         "SetKeyUsage() failed, MessageProError=203, Данный тип расширения сертификата не поддерживается", "requests"},
        {"AddExtendedKeyUsage", 204, request,
         "AddExtendedKeyUsage() failed, MessageProError=204, Ошибка при разборе расширений сертификата", "requests"},
        {"AddCertificatePolicy", 122, request,
         "AddCertificatePolicy() failed, MessageProError=122, Ошибка при ASN.1-кодировании", "requests"},
        {"SetBasicConstraints", 212, request, "SetBasicConstraints() failed, MessageProError=212, Внутренняя ошибка",
         "requests"},
        {"SetSubjectSignTool", 202, request,
         "SetSubjectSignTool() failed, MessageProError=202, Данная функция больше не поддерживается", "requests"},
        {"MakePSECertificateRequest", 149, request,
         "MakePSECertificateRequest() failed, MessageProError=149, Ошибка при записи в файл запроса", "requests"},
        {"AddCAs", 164, cmc, "AddCAs() failed, MessageProError=164, Ошибка при чтении сертификата УЦ", "requests"},
        {"AddPSEPrivateKeyEx", 173, cmc,
         "AddPSEPrivateKeyEx() failed, MessageProError=173, Ошибка при чтении файла ключа для подписи запроса",
         "requests"},
        {"MakePSECertificateRequestEx", 182, cmc,
         "MakePSECertificateRequestEx() failed, MessageProError=182, Ошибка при создании запроса на сертификат",
         "requests"},
        {"AddCAs", 196, sign, "AddCAs() failed, MessageProError=196, Файл с сертификатом УЦ не найден", "signing"},
        {"InsertCertificateToSign", 159, sign,
         "InsertCertificateToSign() failed, MessageProError=159, В параметре задан нулевой указатель", "signing"},
        {"InsertSigningTimeToSign", 160, sign,
         "InsertSigningTimeToSign() failed, MessageProError=160, Размер заданного буфера меньше требуемого", "signing"},
        {"SignBufferEx", 118, sign,
         "SignBufferEx() failed, MessageProError=118, Ошибка при инициализации процедуры подписи или шифрования",
         "signing"},
        {"SetNewKeysAlgorithm", 167, generate,
         "SetNewKeysAlgorithm() failed, MessageProError=167, Неверно задан алгоритм генерируемых ключей", "provider"},
    };
    for (const Case &c : cases) {
        CONTROL(MesproDouble_Reset)();
        CONTROL(MesproDouble_Fail)(c.function, c.code);
        EXPECT_THAT(Take(c.call()), ::testing::AllOf(StartsWith(std::string(c.text) + " (" + c.file + ".cpp:"),
                                                     MatchesRegex(".*:[0-9]+\\)")))
            << c.function;
    }
}

}  // namespace
