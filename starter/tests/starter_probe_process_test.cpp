// The starter program's probe, as a user starts it: a "start.ini" beside the program pointing at a
// local HTTPS server, no display (the dialogs' texts go to standard error).
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "testing/net_peers.h"

using namespace zolm::starter::testing;
namespace peers = zolm::https::testing;
namespace fs = std::filesystem;

namespace {

class StarterProbe : public ::testing::Test {
protected:
    void SetUp() override { fs::copy_file(ZOLM_STARTER, program / "starter"); }
    RunResult Run(const std::string &url) {
        WriteFile(program / "start.ini",
                  "[application]\r\ntitle=Зольм\r\n[proxy]\r\ntype=INTERNET_OPEN_TYPE_DIRECT\r\n"
                  "[probe]\r\nurl=" +
                      url + "\r\ncontent=probe-ok\r\ntimedelta=0\r\n");
        return RunProgram({program / "starter"}, {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path(),
                                                  "SSL_CERT_FILE=" + pki.CaFile()});
    }

    peers::TestPki pki;
    peers::TestServer server{&pki, [](const peers::ReceivedRequest &) {
                                 return peers::Response(200, "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "probe-ok");
                             }};
    TempDir program, appdata, runtime;
};

TEST_F(StarterProbe, ReachableProbeUrlPassesSilently) {
    RunResult r = Run("https://localhost:" + std::to_string(server.Port()) + "/probe.txt");
    EXPECT_EQ(r.exitCode, 0);
    // The probe passes without a word and the run goes on to the launch, which finds no application
    // in this installation.
    EXPECT_EQ(r.out, "Ошибка выполнения\nПри запуске приложения \"Зольм\" произошла ошибка:\n\nВызов CreateProcess(\"" +
                         program.path() + "/VERSIONS//\") вернул ошибку 2: No such file or directory\n\n");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].head.rfind("GET /probe.txt HTTP/1.1\r\n", 0), 0u);
}

TEST_F(StarterProbe, UnreachableProbeUrlShowsTheConnectionErrorAndAborts) {
    std::string url = "https://127.0.0.1:" + std::to_string(peers::FreePort()) + "/probe.txt";
    RunResult r = Run(url);
    EXPECT_EQ(r.exitCode, 0);
    std::string head =
        "Проверка доступа в Интернет\nПриложению \"Зольм\" для нормального функционирования необходим "
        "доступ в Интернет, однако при пробном обращении к серверу " +
        url + " произошла ошибка:\n\nFailed to connect to 127.0.0.1 port ";
    std::string tail =
        "\n\nОдна из возможных причин - неправильная настройка HTTP прокси-сервера, через который Вы "
        "выходите в Интернет, пожалуйста, убедитесь, что настройки прокси-сервера соответствуют "
        "действительности и повторите проверку.\nОтвет: Прервать\n\n";
    EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace
