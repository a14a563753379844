// The splash keeper: the shell command and its quoting, the temporary program's fate, the events and
// the pulse, the waits of HideSplash and ShowSplash on a controllable clock, and a run of the real
// embedded splash program.
#include "starter/splash_keeper/start_splash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "starter/splash_keeper/splash_resource.h"

namespace zolm::starter {
namespace {

using namespace std::chrono_literals;
using platform::NamedEvent;

class FakeClock : public SplashClock {
public:
    std::chrono::steady_clock::time_point now{std::chrono::hours(100)};
    std::vector<long> sleeps;

    std::chrono::steady_clock::time_point Now() override { return now; }
    void Sleep(std::chrono::milliseconds duration) override {
        sleeps.push_back(static_cast<long>(duration.count()));
        now += duration;
    }
    std::vector<long> TakeSleeps() { return std::exchange(sleeps, {}); }
};

bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool EventExists(const std::string &name) { return Exists("/dev/shm" + platform::EventObjectName(name)); }

template <class Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SplashKeeperTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/keeper-test-XXXXXX";
        folder = mkdtemp(pattern);
    }
    // Stand-ins may still be ending (and deleting themselves) while the folder goes.
    void TearDown() override {
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::error_code error;
            std::filesystem::remove_all(folder, error);
            std::this_thread::sleep_for(100ms);
            if (!Exists(folder)) return;
        }
        ADD_FAILURE() << "cannot remove " << folder;
    }

    // A stand-in splash: records its two arguments (when record) and ends with exitCode.
    std::string WriteStandIn(int exitCode, bool record = true) {
        std::string path = folder + "/tmpXXXXXX";
        int fd = mkstemp(path.data());
        std::string script = "#!/bin/sh\n";
        if (record) {
            script += "printf '%s\\n%s\\n' \"$1\" \"$2\" > '" + folder + "/args.tmp'\nmv '" + folder + "/args.tmp' '" +
                      folder + "/args'\n";
        }
        script += "exit " + std::to_string(exitCode) + "\n";
        EXPECT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
        close(fd);
        return path;
    }

    SplashServices Services(std::function<std::string()> write) {
        SplashServices services;
        services.writeSplashProgram = [this, write] { return program = write(); };
        services.splashImagePath = [this] { return image; };
        services.raiseLastError = [](std::string_view call, int code) {
            throw std::runtime_error(std::string(call) + " " + std::to_string(code));
        };
        services.newGuid = NewGuidText;
        return services;
    }

    std::string folder;
    std::string program;
    std::string image = "/opt/app/VERSIONS/1.0/splash.jpg";
};

TEST(SplashCommand, EveryArgumentIsQuotedForTheShell) {
    EXPECT_EQ(ShellQuote("plain"), "'plain'");
    EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(ShellQuote(""), "''");
    EXPECT_EQ(SplashCommandLine("/tmp/tmpA1", "GUID", "/v/1 0/s.jpg"),
              "'/tmp/tmpA1' 'GUID' '/v/1 0/s.jpg' && rm -f -- '/tmp/tmpA1'");
}

TEST(SplashCommand, GuidTextForm) {
    const std::string guid = NewGuidText();
    ASSERT_EQ(guid.size(), 36u);
    for (size_t i = 0; i < guid.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = guid[i];
        EXPECT_TRUE(dash ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) << guid << " at " << i;
    }
    EXPECT_NE(guid, NewGuidText());
}

TEST_F(SplashKeeperTest, StartsTheProgramWithBothArgumentsVerbatimAndDeletesItAfterExitCodeZero) {
    image = folder + "/it's a \"picture\" $(touch " + folder + "/injected); `touch " + folder + "/injected`.jpg";
    SplashKeeper keeper(Services([this] { return WriteStandIn(0); }));
    const std::string guid = keeper.StartSplash();
    ASSERT_TRUE(WaitFor([&] { return Exists(folder + "/args"); }, 10s));
    EXPECT_EQ(ReadFile(folder + "/args"), guid + "\n" + image + "\n");
    EXPECT_TRUE(WaitFor([&] { return !Exists(program); }, 10s)) << "the shell deletes the program after exit 0";
    EXPECT_FALSE(Exists(folder + "/injected"));
    keeper.StopSplash();
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
}

TEST_F(SplashKeeperTest, ProgramIsKeptWhenTheSplashFails) {
    SplashKeeper keeper(Services([this] { return WriteStandIn(3); }));
    const std::string guid = keeper.StartSplash();
    ASSERT_TRUE(WaitFor([&] { return Exists(folder + "/args"); }, 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(Exists(program));
    struct stat st {};
    ASSERT_EQ(::stat(program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    keeper.StopSplash();
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
}

TEST_F(SplashKeeperTest, AFailedStartRemovesTheProgramAndTheEvents) {
    SplashServices services = Services([this] { return WriteStandIn(0); });
    services.shell = "/nonexistent/sh";
    std::string guid;
    services.newGuid = [&guid] { return guid = NewGuidText(); };
    SplashKeeper keeper(std::move(services));
    try {
        keeper.StartSplash();
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), "CreateProcess(\"" + program + "\") 2");
    }
    EXPECT_FALSE(Exists(program));
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) EXPECT_FALSE(EventExists(guid + suffix)) << suffix;
    keeper.StopSplash();  // harmless after a failed start
}

TEST_F(SplashKeeperTest, EventsAndThePulse) {
    SplashKeeper keeper(Services([this] { return WriteStandIn(0); }));
    const std::string guid = keeper.StartSplash();
    ASSERT_EQ(guid.size(), 36u);
    auto keepAlive = NamedEvent::Open(guid + "-KEEP-ALIVE");
    auto hide = NamedEvent::Open(guid + "-HIDE");
    auto show = NamedEvent::Open(guid + "-SHOW");
    ASSERT_TRUE(keepAlive && hide && show);
    EXPECT_TRUE(keepAlive->Test()) << "signalled from the start";
    EXPECT_FALSE(hide->Test());
    EXPECT_FALSE(show->Test());
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(keepAlive->Test()) << "pulsed every second";

    keeper.StopSplash();
    EXPECT_TRUE(hide->Test()) << "hidden at once when stopping";
    keepAlive->Test();
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(keepAlive->Test()) << "no pulse after the stop";
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
}

// Waits of HideSplash: at least 3.1 s visible after a show unless immediate, then 250 ms.
TEST_F(SplashKeeperTest, HideWaitsForTheMinimumVisibleTime) {
    struct Case {
        const char *name;
        std::chrono::milliseconds sinceShown;
        bool immediate;
        std::vector<long> sleeps;
    } cases[] = {{"right after the start", 0ms, false, {3100, 250}},
                 {"half a second", 500ms, false, {2600, 250}},
                 {"rounded to whole ms", 1234ms, false, {1866, 250}},
                 {"just under three seconds", 2999ms, false, {101, 250}},
                 {"three seconds", 3000ms, false, {250}},
                 {"long after", 60000ms, false, {250}},
                 {"immediate", 100ms, true, {250}}};
    for (const Case &c : cases) {
        FakeClock clock;
        SplashServices services = Services([this] { return WriteStandIn(0, false); });
        services.clock = &clock;
        SplashKeeper keeper(std::move(services));
        const std::string guid = keeper.StartSplash();
        auto hide = NamedEvent::Open(guid + "-HIDE");
        clock.now += c.sinceShown;
        keeper.HideSplash(c.immediate);
        EXPECT_EQ(clock.TakeSleeps(), c.sleeps) << c.name;
        EXPECT_TRUE(hide->Test()) << c.name;
        keeper.StopSplash();
        for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
    }
}

TEST_F(SplashKeeperTest, ShowWaitsSignalsAndCountsAsShownAfterwards) {
    FakeClock clock;
    SplashServices services = Services([this] { return WriteStandIn(0, false); });
    services.clock = &clock;
    SplashKeeper keeper(std::move(services));
    const std::string guid = keeper.StartSplash();
    auto show = NamedEvent::Open(guid + "-SHOW");
    clock.now += 10s;
    keeper.HideSplash(false);
    EXPECT_EQ(clock.TakeSleeps(), (std::vector<long>{250}));
    keeper.ShowSplash();
    EXPECT_EQ(clock.TakeSleeps(), (std::vector<long>{750, 250}));
    EXPECT_TRUE(show->Test());
    // A dialog right after the show waits the whole 3.1 s again.
    keeper.HideSplash(false);
    EXPECT_EQ(clock.TakeSleeps(), (std::vector<long>{3100, 250}));
    keeper.StopSplash();
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
}

TEST_F(SplashKeeperTest, AfterDismissNeitherHideNorShowHappens) {
    FakeClock clock;
    SplashServices services = Services([this] { return WriteStandIn(0, false); });
    services.clock = &clock;
    SplashKeeper keeper(std::move(services));
    const std::string guid = keeper.StartSplash();
    auto hide = NamedEvent::Open(guid + "-HIDE");
    auto show = NamedEvent::Open(guid + "-SHOW");
    keeper.DismissSplash();
    EXPECT_TRUE(keeper.Dismissed());
    keeper.HideSplash(false);
    keeper.ShowSplash();
    keeper.StopSplash();
    EXPECT_TRUE(clock.TakeSleeps().empty());
    EXPECT_FALSE(hide->Test());
    EXPECT_FALSE(show->Test());
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) NamedEvent::Remove(guid + suffix);
}

TEST(SplashResourceTest, EmbedsTheSplashProgramBuiltWithIt) {
    auto resource = SplashResource("SPLASH_EXE");
    ASSERT_TRUE(resource.has_value());
    std::ifstream in(ZOLM_SPLASH_PROGRAM, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(resource->size(), file.size());
    EXPECT_TRUE(std::equal(resource->begin(), resource->end(), reinterpret_cast<const uint8_t *>(file.data())));
    EXPECT_FALSE(SplashResource("BSPATCH_EXE").has_value());
}

// The real splash, written out from the resource: alive while pulsed, gone within about 5 s of the
// stop, its temporary program deleted and its events removed.
TEST_F(SplashKeeperTest, RealSplashLivesWhilePulsedAndEndsCleanlyAfterTheStop) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    SplashKeeper keeper(Services([this] {
        auto bytes = *SplashResource("SPLASH_EXE");
        std::string path = folder + "/tmpXXXXXX";
        int fd = mkstemp(path.data());
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        return path;
    }));
    image = folder;  // a folder: the built-in picture
    const std::string guid = keeper.StartSplash();
    std::this_thread::sleep_for(6500ms);
    EXPECT_TRUE(Exists(program)) << "still running while the keeper pulses";
    const auto stopped = std::chrono::steady_clock::now();
    keeper.StopSplash();
    EXPECT_TRUE(WaitFor([&] { return !Exists(program); }, 20s)) << "splash ended with 0 and was deleted";
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 15s);
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) EXPECT_FALSE(EventExists(guid + suffix)) << suffix;
}

}  // namespace
}  // namespace zolm::starter
