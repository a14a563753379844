// The signature check and the signed start in process, with roots and signers of the test's own:
// refusals with their exact texts, the start from the verified descriptor, failed execs, and the
// launch's environment and final error message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/codesign/code_signature.h"
#include "starter/authenticode.h"
#include "starter/process_start.h"
#include "starter/start_run.h"
#include "starter/starter_error.h"
#include "test_pki.h"
#include "test_support.h"

using namespace zolm::starter;
using namespace zolm::starter::testing;
namespace codesign = zolm::platform::codesign;
namespace pki = zolm::platform::codesign::testing;
namespace fs = std::filesystem;

namespace {

class SignedPrograms : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new pki::Issued(pki::MakeRoot("Test Root"));
        ours_ = new pki::Issued(pki::MakeSigner(*root_, "Quillmoor LLC"));
        theirs_ = new pki::Issued(pki::MakeSigner(*root_, "Other Publisher"));
    }
    static void TearDownTestSuite() {
        delete root_;
        delete ours_;
        delete theirs_;
    }

    // A copy of a system program, signed by signer when given.
    std::string Program(const std::string &name, const std::string &from, const pki::Issued *signer) {
        std::string path = dir / name;
        fs::copy_file(from, path, fs::copy_options::overwrite_existing);
        if (signer != nullptr) codesign::SignFile(path, codesign::Signer::FromPem(signer->certPem, signer->keyPem));
        return path;
    }
    codesign::TrustedRoots Roots() const { return codesign::TrustedRoots::FromPem(root_->certPem); }

    TempDir dir;
    static pki::Issued *root_, *ours_, *theirs_;
};
pki::Issued *SignedPrograms::root_ = nullptr;
pki::Issued *SignedPrograms::ours_ = nullptr;
pki::Issued *SignedPrograms::theirs_ = nullptr;

std::string VerifyError(const std::string &path, const std::string &signer, const codesign::TrustedRoots &roots) {
    try {
        zolm::platform::UniqueFd fd = VerifyFileSignature(path, signer, roots);
        return fd.Valid() ? "accepted" : "not opened";
    } catch (const StarterError &e) {
        return e.what();
    }
}

TEST_F(SignedPrograms, VerifyFileSignatureRefusals) {
    std::string ours = Program("ours", "/bin/true", ours_);
    std::string theirs = Program("theirs", "/bin/true", theirs_);
    std::string unsignedProgram = Program("unsigned", "/bin/true", nullptr);
    std::string modified = Program("modified", "/bin/true", ours_);
    {
        // One byte changed after signing, in the middle of the program.
        int fd = ::open(modified.c_str(), O_RDWR);
        char byte = 0;
        ASSERT_EQ(::pread(fd, &byte, 1, 1000), 1);
        byte ^= 0x20;
        ASSERT_EQ(::pwrite(fd, &byte, 1, 1000), 1);
        ::close(fd);
    }
    struct Case {
        const char *name;
        std::string path;
        std::string signer;
        std::string expected;
    } cases[] = {
        {"ours", ours, kRequiredSigner, "accepted"},
        {"any signer wanted", theirs, "", "accepted"},
        {"another publisher", theirs, kRequiredSigner, "signer is not trusted"},
        {"name compared case-sensitively", ours, "quillmoor llc", "signer is not trusted"},
        {"unsigned", unsignedProgram, kRequiredSigner,
         "Вызов WinVerifyTrust вернул ошибку -2146762496: the file carries no code signature"},
        {"unsigned, any signer", unsignedProgram, "",
         "Вызов WinVerifyTrust вернул ошибку -2146762496: the file carries no code signature"},
        {"one byte modified", modified, kRequiredSigner,
         "Вызов WinVerifyTrust вернул ошибку -2146869232: the code signature does not match the file"},
        {"missing", dir / "missing", kRequiredSigner, "not opened"},
        {"folder", dir.path(), kRequiredSigner, "not opened"},
    };
    for (const Case &c : cases) EXPECT_EQ(VerifyError(c.path, c.signer, Roots()), c.expected) << c.name;

    // A root the starter does not trust.
    auto otherRoots = codesign::TrustedRoots::FromPem(pki::MakeRoot("Elsewhere").certPem);
    EXPECT_EQ(VerifyError(ours, kRequiredSigner, otherRoots),
              "Вызов WinVerifyTrust вернул ошибку -2146762487: the code signature's certificate does not chain to a "
              "trusted root (unable to get local issuer certificate)");
}

TEST_F(SignedPrograms, SignedStartRunsTheProgramAndReportsFailedStarts) {
    ProcessRequest request{{"prog"}, dir.path(), true};
    pid_t pid = SignedStart(Program("true", "/bin/true", ours_), request, kRequiredSigner, Roots());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForExit(pid), 0);
    pid = SignedStart(Program("false", "/bin/false", ours_), request, kRequiredSigner, Roots());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForExit(pid), 1);

    errno = 0;
    EXPECT_EQ(SignedStart(dir / "missing", request, kRequiredSigner, Roots()), -1);
    EXPECT_EQ(errno, ENOENT);

    // Signed, but the exec fails: the close-on-exec pipe brings the reason back.
    std::string notExecutable = Program("plain", "/bin/true", ours_);
    ::chmod(notExecutable.c_str(), 0644);
    if (::geteuid() != 0) {  // root may execute any file with an execute bit; this one has none either way
        errno = 0;
        EXPECT_EQ(SignedStart(notExecutable, request, kRequiredSigner, Roots()), -1);
        EXPECT_EQ(errno, EACCES);
    }
    WriteFile(dir / "data", std::string(4096, 'x'));
    std::string data = dir / "data";
    codesign::SignFile(data, codesign::Signer::FromPem(ours_->certPem, ours_->keyPem));
    ::chmod(data.c_str(), 0755);
    errno = 0;
    EXPECT_EQ(SignedStart(data, request, kRequiredSigner, Roots()), -1);
    EXPECT_EQ(errno, ENOEXEC);

    // A folder that cannot be entered fails the start too.
    errno = 0;
    EXPECT_EQ(SignedStart(Program("true2", "/bin/true", ours_), {{"prog"}, dir / "no-such-folder", false},
                          kRequiredSigner, Roots()),
              -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SignedPrograms, AFileSwappedAfterTheCheckDoesNotRun) {
    // The verified program ends with 0; the one put in its place afterwards ends with 1.
    std::string path = Program("app", "/bin/true", ours_);
    zolm::platform::UniqueFd fd = VerifyFileSignature(path, kRequiredSigner, Roots());
    ASSERT_TRUE(fd.Valid());
    std::string impostor = Program("impostor", "/bin/false", nullptr);
    ASSERT_EQ(::rename(impostor.c_str(), path.c_str()), 0);
    pid_t pid = StartFromDescriptor(fd.Get(), {{path}, "", true});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForExit(pid), 0);
    // The swapped file itself would have failed the check.
    EXPECT_EQ(VerifyError(path, kRequiredSigner, Roots()),
              "Вызов WinVerifyTrust вернул ошибку -2146762496: the file carries no code signature");
}

TEST_F(SignedPrograms, AVerifiedProgramRunsTheCheckedBytesAtEveryStart) {
    std::string path = Program("tool", "/bin/true", ours_);
    VerifiedProgram program(path, kRequiredSigner, Roots());
    ASSERT_TRUE(program.Valid());
    // Changed in place and then replaced: every start still runs the checked program.
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::string impostor = Program("impostor", "/bin/false", ours_);
    ASSERT_EQ(::rename(impostor.c_str(), path.c_str()), 0);
    for (int i = 0; i < 2; ++i) {
        pid_t pid = program.Start({{path}, "", true});
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitForExit(pid), 0);
    }

    // The refusals are those of the single check, raised when the program is loaded.
    std::string unsignedProgram = Program("unsigned", "/bin/true", nullptr);
    std::string theirs = Program("theirs", "/bin/true", theirs_);
    for (const std::string &refused : {unsignedProgram, theirs}) {
        try {
            VerifiedProgram p(refused, kRequiredSigner, Roots());
            ADD_FAILURE() << refused << " loaded";
        } catch (const StarterError &e) {
            EXPECT_EQ(std::string(e.what()), refused == theirs ? "signer is not trusted"
                                                               : "Вызов WinVerifyTrust вернул ошибку -2146762496: "
                                                                 "the file carries no code signature");
        }
    }
    errno = 0;
    EXPECT_FALSE(VerifiedProgram(dir / "missing", kRequiredSigner, Roots()).Valid());
    EXPECT_EQ(errno, ENOENT);

    // A file without execute permission does not become runnable through the copy.
    if (::geteuid() != 0) {
        std::string plain = Program("plain", "/bin/true", ours_);
        ::chmod(plain.c_str(), 0644);
        VerifiedProgram notExecutable(plain, kRequiredSigner, Roots());
        errno = 0;
        EXPECT_EQ(notExecutable.Start({{plain}, "", true}), -1);
        EXPECT_EQ(errno, EACCES);
    }
}

// The launch with its settings given as a map; the final error is recorded.
class Launch : public SignedPrograms {
protected:
    void SetUp() override {
        fs::create_directories(dir / "VERSIONS/2.0");
        settings = {{"versions.current", "2.0"},
                    {"application.main", "app"},
                    {"application.title", "Демо"},
                    {"probe.url", "https://probe.example/ok"}};
    }
    void Run(std::vector<std::string> args = {}, bool isWine = false) {
        roots = std::make_unique<codesign::TrustedRoots>(Roots());
        LaunchServices s;
        s.readSetting = [this](std::string_view key) {
            auto it = settings.find(std::string(key));
            return it == settings.end() ? std::string() : it->second;
        };
        s.versionDirectory = [this](std::string_view v) { return dir / ("VERSIONS/" + std::string(v) + "/"); };
        s.programDirectory = dir.path() + "/";
        s.showFinalError = [this](const std::string &text) { shown.push_back(text); };
        s.roots = roots.get();
        s.isWine = isWine;
        ApplicationLauncher(std::move(s), std::move(args)).RunApplication("proxy:3128", "", "", "GUID-1");
    }

    std::map<std::string, std::string> settings;
    std::unique_ptr<codesign::TrustedRoots> roots;
    std::vector<std::string> shown;
};

TEST_F(Launch, TheEnvironmentIsSetAndASignedApplicationStarts) {
    Program("VERSIONS/2.0/app", "/bin/true", ours_);
    Run({"a b"});
    EXPECT_TRUE(shown.empty()) << shown.front();
    const std::pair<const char *, std::string> expected[] = {
        {"HTTPS_PROXY_SERVER", "proxy:3128"},       {"HTTPS_PROXY_USERNAME", ""}, {"HTTPS_PROXY_PASSWORD", ""},
        {"CRYPTO_URL", "https://probe.example/ok"}, {"SPLASH_GUID", "GUID-1"},    {"START_DIRECTORY", dir.path() + "/"},
    };
    for (const auto &[name, value] : expected) {
        const char *actual = std::getenv(name);
        ASSERT_NE(actual, nullptr) << name << " is not set";  // empty values stay set
        EXPECT_EQ(actual, value) << name;
    }
}

TEST_F(Launch, UnderWineAnUnsignedApplicationStarts) {
    Program("VERSIONS/2.0/app", "/bin/true", nullptr);
    Run({}, true);
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_F(Launch, FailuresEndInTheFinalErrorMessage) {
    const std::string prefix = "При запуске приложения \"Демо\" произошла ошибка:\r\n\r\n";
    Run();
    Program("VERSIONS/2.0/app", "/bin/true", theirs_);
    Run();
    Program("VERSIONS/2.0/app", "/bin/true", nullptr);
    Run();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], prefix + "Вызов CreateProcess(\"" + dir.path() +
                            "/VERSIONS/2.0/app\") вернул ошибку 2: No such file or directory");
    EXPECT_EQ(shown[1], prefix + "signer is not trusted");
    EXPECT_EQ(shown[2], prefix + "Вызов WinVerifyTrust вернул ошибку -2146762496: the file carries no code signature");
}

}  // namespace
