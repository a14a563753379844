// Settings through real processes: a program directory the user cannot write (run as nobody, since
// root writes anywhere), many starters writing at once while holders die, and the starter program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "starter/profile_file.h"
#include "test_support.h"

using namespace zolm::starter;
using namespace zolm::starter::testing;
namespace fs = std::filesystem;

namespace {

const char kProgramIni[] = "[versions]\nproduct=demo\ncurrent=1.0\n[probe]\nurl=https://127.0.0.1:1/\n[application]\ntitle=T\n";

// An installation whose program directory the running user cannot write: as root the programs run
// as nobody; otherwise the folder is made read-only.
class ReadOnlyInstall : public ::testing::Test {
protected:
    void SetUp() override {
        nobody_ = CanRunAsNobody();
        fs::copy_file(ZOLM_SETTINGS_CLIENT, program.path() + "/settings_client");
        fs::copy_file(ZOLM_STARTER, program.path() + "/starter");
        // The transport library beside the program, as in an installation: nobody may not be able to
        // reach the build folder.
        fs::copy_file(fs::path(ZOLM_STARTER).parent_path() / "libhttps.so", program / "libhttps.so");
        WriteFile(program / "start.ini", kProgramIni);
        fs::create_directories(program / "VERSIONS/1.0");
        for (const TempDir *user : {&appdata, &runtime, &temp}) GiveToUser(user->path());
        chmod(program.path().c_str(), nobody_ ? 0755 : 0555);
    }
    void TearDown() override { chmod(program.path().c_str(), 0755); }

    void GiveToUser(const std::string &path) {
        if (nobody_) {
            ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
        }
    }
    std::vector<std::string> Env() const {
        return {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path(), "PATH=/usr/bin:/bin"};
    }
    RunResult Client(const std::vector<std::string> &args, std::vector<std::string> env = {}) {
        if (env.empty()) env = Env();
        std::vector<std::string> argv = {program / "settings_client", program.path() + "/"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, env, nobody_);
    }
    std::string PerUserIni() const { return appdata / "Quillmoor/demo/start.ini"; }

    bool nobody_ = false;
    TempDir program, appdata, runtime, temp;
};

}  // namespace

TEST_F(ReadOnlyInstall, FirstRunCreatesThePerUserFileWithTheProduct) {
    RunResult r = Client({"peruser"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, PerUserIni());
    EXPECT_EQ(ReadFile(PerUserIni()), "[versions]\nproduct=demo\n");
    EXPECT_EQ(ReadFile(program / "start.ini"), kProgramIni);
}

TEST_F(ReadOnlyInstall, PerUserValuesTakePrecedence) {
    ASSERT_EQ(Client({"write", "proxy.host", "h"}).exitCode, 0);
    EXPECT_EQ(Client({"read", "proxy.host"}).out, "h");
    EXPECT_EQ(Client({"read", "probe.url"}).out, "https://127.0.0.1:1/") << "absent per user: the program file's";
    // Empty per-user values count; the code-1 marker counts as absent.
    WriteFile(PerUserIni(), ReadFile(PerUserIni()) + "[probe]\nurl=\n[application]\ntitle=\x01\n");
    EXPECT_EQ(Client({"read", "probe.url"}).out, "");
    EXPECT_EQ(Client({"read", "application.title"}).out, "T");
    EXPECT_EQ(ReadFile(program / "start.ini"), kProgramIni);
}

TEST_F(ReadOnlyInstall, VersionDirectoryKeepsExistingProgramFoldersAndPutsNewOnesPerUser) {
    EXPECT_EQ(Client({"versiondir", "1.0"}).out, program.path() + "/VERSIONS/1.0/");
    EXPECT_EQ(Client({"versiondir", "2.0"}).out, appdata.path() + "/Quillmoor/demo/VERSIONS/2.0/");
    EXPECT_TRUE(fs::is_directory(appdata / "Quillmoor/demo/VERSIONS"));
    EXPECT_FALSE(fs::exists(appdata / "Quillmoor/demo/VERSIONS/2.0"));
}

TEST_F(ReadOnlyInstall, WithoutAppdataThePerUserFileGoesUnderTemp) {
    RunResult r = Client({"peruser"}, {"TEMP=" + temp.path(), "XDG_RUNTIME_DIR=" + runtime.path()});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, temp.path() + "/Quillmoor/demo/start.ini");
    EXPECT_EQ(ReadFile(r.out), "[versions]\nproduct=demo\n");
}

TEST_F(ReadOnlyInstall, UnusablePerUserPlacesRaiseTheirErrors) {
    TempDir locked;  // a folder the user cannot create anything in
    chmod(locked.path().c_str(), 0555);
    RunResult r = Client({"peruser"}, {"APPDATA=" + locked.path(), "XDG_RUNTIME_DIR=" + runtime.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "error: Вызов ForceDirectories(\"" + locked.path() +
                         "/Quillmoor/demo/\") вернул ошибку 13: Permission denied");

    fs::create_directories(PerUserIni());  // a folder where the file should be
    for (const auto &p : {appdata / "Quillmoor", appdata / "Quillmoor/demo", PerUserIni()}) GiveToUser(p);
    r = Client({"peruser"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "error: Unable to write to " + PerUserIni());
}

TEST(ReadOnlySettingsFile, AWritableFolderDoesNotMakeAReadOnlyFileWritable) {
    TempDir program, appdata, runtime;
    bool nobody = CanRunAsNobody();
    fs::copy_file(ZOLM_SETTINGS_CLIENT, program / "settings_client");
    WriteFile(program / "start.ini", kProgramIni);
    chmod((program / "start.ini").c_str(), 0444);
    for (const auto &path : {program.path(), appdata.path(), runtime.path(), program / "start.ini"}) {
        if (nobody) {
            ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
        }
    }
    chmod(program.path().c_str(), 0755);
    RunResult r = RunProgram({program / "settings_client", program.path() + "/", "peruser"},
                             {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path()}, nobody);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, appdata / "Quillmoor/demo/start.ini");
    EXPECT_EQ(ReadFile(program / "start.ini"), kProgramIni);
}

TEST_F(ReadOnlyInstall, StarterRunsTheSequenceAndExitsZero) {
    RunResult r = RunProgram({program / "starter", "--no-such-option", "x y"}, Env(), nobody_);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // Nothing listens at the probe URL: the probe's connection error, answered without a display.
    EXPECT_EQ(r.out.rfind("Проверка доступа в Интернет\n", 0), 0u) << r.out;
    EXPECT_EQ(ReadFile(PerUserIni()), "[versions]\nproduct=demo\n");
    EXPECT_EQ(ReadFile(program / "start.ini"), kProgramIni);
}

TEST(StarterProgram, RunsOnAWritableInstallationAndExitsZero) {
    TempDir program, runtime, appdata;
    fs::copy_file(ZOLM_STARTER, program / "starter");
    WriteFile(program / "start.ini", "[probe]\r\nurl=https://127.0.0.1:1/\r\n");
    RunResult r = RunProgram({program / "starter"}, {"APPDATA=" + appdata.path(), "XDG_RUNTIME_DIR=" + runtime.path()});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(ReadFile(program / "start.ini"), "[probe]\r\nurl=https://127.0.0.1:1/\r\n[versions]\r\nproduct=\r\n");
    EXPECT_TRUE(fs::is_empty(appdata.path()));
}

TEST(StarterProgram, AnErrorBeforeTheSequenceIsReportedWithExitCodeOne) {
    if (!CanRunAsNobody()) GTEST_SKIP() << "needs another user";
    TempDir program, runtime, locked;
    fs::copy_file(ZOLM_STARTER, program / "starter");
    chmod(program.path().c_str(), 0755);
    chown(runtime.path().c_str(), kNobody, kNobody);
    RunResult r = RunProgram({program / "starter"}, {"APPDATA=" + locked.path(), "XDG_RUNTIME_DIR=" + runtime.path()}, true);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "starter: Вызов ForceDirectories(\"" + locked.path() +
                         "/Quillmoor//\") вернул ошибку 13: Permission denied\n");
}

namespace {

bool Digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The only lines the writers produce: "[versions]", "[p<n>]", "[victim]", "product=", "k<n>=v<n>".
bool WellFormed(std::string_view line) {
    if (line == "[versions]" || line == "[victim]" || line == "product=") return true;
    if (line.size() > 3 && line.substr(0, 2) == "[p" && line.back() == ']') return Digits(line.substr(2, line.size() - 3));
    size_t equals = line.find("=v");
    return line.size() > 1 && line[0] == 'k' && equals != std::string_view::npos && Digits(line.substr(1, equals - 1)) &&
           Digits(line.substr(equals + 2));
}

}  // namespace

// 20 processes write 50 keys each while the mutex's first holder and another writer are killed.
TEST(SettingsConcurrency, NoWriteIsLostAndDeadHoldersReleaseTheMutex) {
    TempDir program, runtime;
    std::string dir = program.path() + "/";
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.path(), "APPDATA=" + runtime.path()};

    Child holder = Spawn({ZOLM_SETTINGS_CLIENT, dir, "hold"}, env);
    ASSERT_EQ(ReadLine(holder), "held");
    constexpr int kWriters = 20, kWrites = 50;
    std::vector<Child> writers;
    for (int i = 0; i < kWriters; ++i)
        writers.push_back(Spawn({ZOLM_SETTINGS_CLIENT, dir, "hammer", "p" + std::to_string(i), std::to_string(kWrites)}, env));
    Child victim = Spawn({ZOLM_SETTINGS_CLIENT, dir, "hammer", "victim", "1000000"}, env);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(holder.pid, SIGKILL);  // dies holding the mutex
    EXPECT_EQ(Wait(holder).exitCode, 128 + SIGKILL);
    // Kill the victim once it is writing.
    for (int i = 0; i < 500 && ReadFile(dir + "start.ini").find("[victim]") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(victim.pid, SIGKILL);
    EXPECT_EQ(Wait(victim).exitCode, 128 + SIGKILL);

    for (auto &writer : writers) {
        RunResult r = Wait(writer, 120);
        EXPECT_EQ(r.exitCode, 0) << r.out;
    }
    // One more write clears what the killed writer may have left half-written beside the file.
    Child lastWriter = Spawn({ZOLM_SETTINGS_CLIENT, dir, "hammer", "p99", "1"}, env);
    RunResult last = Wait(lastWriter, 60);
    EXPECT_EQ(last.exitCode, 0) << last.out;
    std::string ini = ReadFile(dir + "start.ini");
    for (int i = 0; i < kWriters; ++i)
        for (int k = 0; k < kWrites; ++k)
            ASSERT_EQ(ProfileGetString(ini, "p" + std::to_string(i), "k" + std::to_string(k), "<lost>"),
                      "v" + std::to_string(k));
    std::istringstream lines(ini);
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(WellFormed(line)) << line;
    for (const auto &entry : fs::directory_iterator(program.path()))
        EXPECT_EQ(entry.path().filename(), "start.ini") << "a temporary file was left behind";
}
