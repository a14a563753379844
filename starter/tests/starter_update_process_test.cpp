// The starter program's update check end to end, as a user starts it: a demo installation at 1.0.0,
// zolm-update-server offering 1.0.1 from patches made with zolm-patchmaker, the real installer and the
// signed launch. Without a display, so every message goes to standard error.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "platform/named_objects.h"
#include "test_support.h"

using namespace zolm::starter::testing;
namespace fs = std::filesystem;

namespace {

// The update server on a free port; its request log (one line per request) once stopped.
class UpdateServer {
public:
    explicit UpdateServer(const std::string &patches) {
        child_ = Spawn({ZOLM_UPDATE_SERVER, "--versions", patches, "--probe-path", "/probe.txt", "--probe-body",
                        "probe-ok", "--product", "demo"},
                       {});
        std::string first = ReadLine(child_);  // "zolm-update-server: http://127.0.0.1:PORT/RPC2 offers ..."
        size_t from = first.find("127.0.0.1:");
        if (from != std::string::npos) port_ = std::stoi(first.substr(from + 10));
    }
    ~UpdateServer() { Stop(); }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string Stop() {
        if (child_.pid > 0) {
            kill(child_.pid, SIGTERM);
            log_ = Wait(child_).out;
            child_.pid = -1;
        }
        return log_;
    }

private:
    Child child_;
    int port_ = 0;
    std::string log_;
};

class StarterUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(ZOLM_STARTER, program / "starter");
        fs::create_directories(program / "VERSIONS/1.0.0");
        fs::create_directories(offered / "1.0.1");
        fs::create_directories(patches.path());
        fs::copy_file(ZOLM_DEMOAPP, program / "VERSIONS/1.0.0/zolm-demoapp");
        fs::copy_file(ZOLM_DEMOAPP, offered / "1.0.1/zolm-demoapp");
        WriteFile(program / "VERSIONS/1.0.0/readme.txt", "1.0.0\n");
        WriteFile(offered / "1.0.1/readme.txt", "1.0.1, changed\n");
        WriteFile(offered / "1.0.1/notes.txt", "new in 1.0.1\n");
        Make({ZOLM_PATCHMAKER, "--out", patches / "1.0.0.xml", program / "VERSIONS/1.0.0", offered / "1.0.1"});
        Make({ZOLM_PATCHMAKER, "--full", "--out", patches / "full.xml", offered / "1.0.1"});
        server = std::make_unique<UpdateServer>(patches.path());
    }
    static void Make(const std::vector<std::string> &argv) {
        RunResult r = RunProgram(argv, {});
        ASSERT_EQ(r.exitCode, 0) << r.out;
    }
    void Settings(const std::string &current, const std::string &silent, const std::string &url) {
        WriteFile(program / "start.ini",
                  "[application]\ntitle=Демо\nmain=zolm-demoapp\n[proxy]\n"
                  "type=INTERNET_OPEN_TYPE_DIRECT\n[versions]\nproduct=demo\ncurrent=" +
                      current + "\nsilent=" + silent + "\nurl=" + url + "\n[probe]\nurl=" + server->Base() +
                      "/probe.txt\ncontent=probe-ok\n");
    }
    RunResult Start() {
        return RunProgram({program / "starter"}, {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path()});
    }
    std::string Current() {
        std::string ini = ReadFile(program / "start.ini");
        size_t at = ini.find("current=");
        return ini.substr(at + 8, ini.find('\n', at) - at - 8);
    }

    TempDir program, offered, patches, appdata, runtime;
    std::unique_ptr<UpdateServer> server;
};

struct Case {
    const char *name;
    std::string current, silent;
    bool serverUp;
    std::string expectedCurrent, startedFolder, calls;
    std::string message;  // a text the run must print (empty: none of the update's texts)
};

const Case kCases[] = {
    {"SilentPatch", "1.0.0", "1", true, "1.0.1", "VERSIONS/1.0.1",
     "GET /probe.txt\nPOST /RPC2 Versions.GetPatchInfo(demo, 1.0.0)\nPOST /RPC2 Versions.GetPatch(demo, 1.0.0)\n", ""},
    {"SilentFullForAnUnknownVersion", "0.9.9", "1", true, "1.0.1", "VERSIONS/1.0.1",
     "GET /probe.txt\nPOST /RPC2 Versions.GetPatchInfo(demo, 0.9.9)\nPOST /RPC2 Versions.GetPatch(demo, 00000000)\n",
     ""},
    {"QuestionAnsweredNoWithoutADisplay", "1.0.0", "0", true, "1.0.0", "VERSIONS/1.0.0",
     "GET /probe.txt\nPOST /RPC2 Versions.GetPatchInfo(demo, 1.0.0)\n",
     "На сервере доступна новая версия приложения \"Демо\", скачать обновление ("},
    {"UpdateServerDownIsSilent", "1.0.0", "0", false, "1.0.0", "VERSIONS/1.0.0", "GET /probe.txt\n", ""},
};

class StarterUpdateCases : public StarterUpdate, public ::testing::WithParamInterface<Case> {};

TEST_P(StarterUpdateCases, UpdatesAndStartsTheCurrentVersion) {
    if (GetParam().current == "0.9.9") fs::rename(program / "VERSIONS/1.0.0", program / "VERSIONS/0.9.9");
    Settings(GetParam().current, GetParam().silent,
             GetParam().serverUp ? server->Base() + "/RPC2" : "http://127.0.0.1:1/RPC2");
    RunResult r = Start();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::string folder = GetParam().startedFolder == "VERSIONS/1.0.0" && GetParam().current == "0.9.9"
                             ? "VERSIONS/0.9.9"
                             : GetParam().startedFolder;
    EXPECT_NE(r.out.find("current folder: " + program.path() + "/" + folder + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(Current(), GetParam().expectedCurrent);
    EXPECT_EQ(server->Stop(), GetParam().calls);
    if (!GetParam().message.empty())
        EXPECT_NE(r.out.find(GetParam().message), std::string::npos) << r.out;
    else
        EXPECT_EQ(r.out.find("обновлени"), std::string::npos) << r.out;
    if (GetParam().expectedCurrent == "1.0.1") {
        EXPECT_EQ(ReadFile(program / "VERSIONS/1.0.1/readme.txt"), "1.0.1, changed\n");
        EXPECT_EQ(ReadFile(program / "VERSIONS/1.0.1/notes.txt"), "new in 1.0.1\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StarterUpdateCases, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StarterUpdate, ASecondRunFindsNothingToUpdate) {
    Settings("1.0.0", "1", server->Base() + "/RPC2");
    ASSERT_EQ(Start().exitCode, 0);
    RunResult second = Start();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.out.find("current folder: " + program.path() + "/VERSIONS/1.0.1\n"), std::string::npos)
        << second.out;
    std::string log = server->Stop();
    EXPECT_EQ(log.substr(log.rfind("GET /probe.txt")),
              "GET /probe.txt\nPOST /RPC2 Versions.GetPatchInfo(demo, 1.0.1)\n");
}

TEST_F(StarterUpdate, AStarterUpdatingTheSameProductKeepsTheOtherFromTheServer) {
    // This process plays the starter that is updating "demo": it holds the update marker.
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    auto marker = zolm::platform::TryLockNamed("Dovetane starter: demo update in progress");
    ASSERT_TRUE(marker.has_value());
    Settings("1.0.0", "1", server->Base() + "/RPC2");
    RunResult r = Start();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("current folder: " + program.path() + "/VERSIONS/1.0.0\n"), std::string::npos) << r.out;
    EXPECT_EQ(Current(), "1.0.0");
    EXPECT_EQ(server->Stop(), "GET /probe.txt\n");  // the probe only: no update call
}

}  // namespace
