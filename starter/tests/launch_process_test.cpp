// The starter program launching the build's signed demonstration application: the environment,
// the current folder and the arguments the application receives, and the refusal of a program
// signed under the same root by another publisher.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codesign/code_signature.h"
#include "test_pki.h"
#include "test_support.h"
#include "testing/net_peers.h"

using namespace zolm::starter::testing;
namespace codesign = zolm::platform::codesign;
namespace pki = zolm::platform::codesign::testing;
namespace fs = std::filesystem;
namespace peers = zolm::https::testing;

namespace {

class StarterLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(ZOLM_STARTER, program / "starter");
        fs::create_directories(program / "VERSIONS/1.0.0");
        fs::copy_file(ZOLM_DEMOAPP, program / "VERSIONS/1.0.0/zolm-demoapp");
        WriteFile(program / "start.ini",
                  "[application]\ntitle=Demo\nmain=zolm-demoapp\n[versions]\nproduct=demo\ncurrent=1.0.0\n"
                  "[probe]\nurl=" + ProbeUrl() + "\ncontent=probe-ok\ntimedelta=0\n");
    }
    RunResult Start(const std::vector<std::string> &args) {
        std::vector<std::string> argv = {program / "starter"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(
            argv, {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path(), "HTTPS_PROXY_PASSWORD=leaked",
                   "SSL_CERT_FILE=" + pki.CaFile()});
    }
    // The probe passes against a local HTTPS server, so the run goes on to the launch.
    std::string ProbeUrl() const { return "https://localhost:" + std::to_string(server.Port()) + "/probe.txt"; }
    peers::TestPki pki;
    peers::TestServer server{&pki, [](const peers::ReceivedRequest &) {
                                 return peers::Response(200, "", "probe-ok");
                             }};
    TempDir program, appdata, runtime;
};

TEST_F(StarterLaunch, TheSignedApplicationGetsEnvironmentFolderAndArguments) {
    RunResult r = Start({"with blank", "quote\"inside", "", "'single'"});
    EXPECT_EQ(r.exitCode, 0);
    // The splash's event prefix is a fresh upper-case GUID; compare the rest exactly.
    const std::string guidKey = "SPLASH_GUID=";
    size_t at = r.out.find(guidKey);
    ASSERT_NE(at, std::string::npos) << r.out;
    std::string guid = r.out.substr(at + guidKey.size(), 36);
    EXPECT_EQ(guid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << guid;
    r.out.erase(at + guidKey.size(), 36);
    EXPECT_EQ(r.out,
              "zolm-demoapp started\n"
              "HTTPS_PROXY_SERVER=\n"
              "HTTPS_PROXY_USERNAME=\n"
              "HTTPS_PROXY_PASSWORD=\n"
              "CRYPTO_URL=" + ProbeUrl() + "\n"
              "SPLASH_GUID=\n"
              "START_DIRECTORY=" +
                  program.path() +
                  "/\n"
                  "current folder: " +
                  program.path() +
                  "/VERSIONS/1.0.0\n"
                  "argument 1: [with blank]\n"
                  "argument 2: [quote\"inside]\n"
                  "argument 3: []\n"
                  "argument 4: ['single']\n");
}

TEST_F(StarterLaunch, AnotherPublisherUnderTheSameRootIsRefused) {
    pki::Issued root{ReadFile(std::string(ZOLM_CODESIGN_DIR) + "/root.pem"),
                     ReadFile(std::string(ZOLM_CODESIGN_DIR) + "/root.key")};
    pki::Issued other = pki::MakeSigner(root, "Quillmoor LLC (test)");
    codesign::SignFile(program / "VERSIONS/1.0.0/zolm-demoapp", codesign::Signer::FromPem(other.certPem, other.keyPem));
    RunResult r = Start({});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Ошибка выполнения\nПри запуске приложения \"Demo\" произошла ошибка:\n\nsigner is not trusted\n\n");
}

}  // namespace
