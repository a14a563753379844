// The splash program run as a real process on Qt's offscreen platform: picture and window size, the
// hide/show events, ending when the keep-alive stops, and no event objects left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <atomic>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "platform/named_objects.h"
#include "splash/tests/child_process.h"

namespace {

using namespace std::chrono_literals;
using zolm::platform::NamedEvent;
using zolm::testing::ChildProcess;

const std::vector<std::pair<std::string, std::string>> kEnv = {{"QT_QPA_PLATFORM", "offscreen"},
                                                               {"ZOLM_SPLASH_DEBUG", "1"}};

std::string UniquePrefix() {
    static std::mt19937_64 random{std::random_device{}()};
    return "SPLASH-TEST-" + std::to_string(getpid()) + "-" + std::to_string(random());
}

bool EventObjectExists(const std::string &name) {
    struct stat st {};
    return stat(("/dev/shm" + zolm::platform::EventObjectName(name)).c_str(), &st) == 0;
}

void ExpectNoEventsLeft(const std::string &prefix) {
    for (const char *suffix : {"-HIDE", "-SHOW", "-KEEP-ALIVE"}) {
        EXPECT_FALSE(EventObjectExists(prefix + suffix)) << prefix + suffix;
    }
}

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/splash-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string Path(const std::string &name) const { return path_ + "/" + name; }
    const std::string &Root() const { return path_; }

private:
    std::string path_;
};

// What argument 2 names, and the window size that must follow from it.
struct PictureCase {
    const char *name;
    std::function<std::string(const TempFolder &)> makeArgument;  // empty result: no argument 2
    int width;
    int height;
};

void PrintTo(const PictureCase &c, std::ostream *out) { *out << c.name; }

std::string SavedPicture(const TempFolder &folder, const char *fileName, const char *format, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const std::string path = folder.Path(fileName);
    if (!image.save(QString::fromStdString(path), format)) ADD_FAILURE() << "cannot write " << path;
    return path;
}

class SplashPicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(SplashPicture, WindowTakesThePictureSize) {
    const PictureCase &c = GetParam();
    TempFolder folder;
    const std::string prefix = UniquePrefix();
    std::vector<std::string> argv = {ZOLM_SPLASH_PROGRAM, prefix};
    if (std::string argument = c.makeArgument(folder); !argument.empty()) argv.push_back(argument);
    ChildProcess splash(argv, kEnv);

    const std::string expected = "splash: shown " + std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_TRUE(splash.WaitForLine("splash: shown", 20s)) << splash.Output();
    EXPECT_NE(splash.Output().find(expected), std::string::npos) << splash.Output();

    kill(splash.Pid(), SIGTERM);
    auto status = splash.WaitForExit(20s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << splash.Output();
    ExpectNoEventsLeft(prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplashPicture,
    ::testing::Values(
        PictureCase{"Png", [](const TempFolder &f) { return SavedPicture(f, "p.png", "PNG", 123, 77); }, 123, 77},
        PictureCase{"Jpeg", [](const TempFolder &f) { return SavedPicture(f, "p.jpg", "JPEG", 320, 200); }, 320, 200},
        PictureCase{"BmpWithOtherExtension",
                    [](const TempFolder &f) { return SavedPicture(f, "picture.dat", "BMP", 64, 48); }, 64, 48},
        PictureCase{"Folder", [](const TempFolder &f) { return f.Root(); }, 600, 420},
        PictureCase{"MissingFile", [](const TempFolder &f) { return f.Path("missing.jpg"); }, 600, 420},
        PictureCase{"NotAPicture",
                    [](const TempFolder &f) {
                        const std::string path = f.Path("broken.jpg");
                        FILE *file = fopen(path.c_str(), "w");
                        fputs("not a picture", file);
                        fclose(file);
                        return path;
                    },
                    600, 420},
        PictureCase{"NoArgument", [](const TempFolder &) { return std::string(); }, 600, 420}),
    [](const auto &info) { return std::string(info.param.name); });

// Without a starter the keep-alive event is absent: the first check (after 5 s) ends the splash.
TEST(SplashProcess, WithoutStarterEndsAtTheFirstKeepAliveCheck) {
    const std::string prefix = UniquePrefix();
    ChildProcess splash({ZOLM_SPLASH_PROGRAM, prefix}, kEnv);
    ASSERT_TRUE(splash.WaitForLine("splash: shown 600x420", 20s)) << splash.Output();
    const auto shown = ChildProcess::Clock::now();
    auto status = splash.WaitForExit(30s);
    ASSERT_TRUE(status.has_value()) << splash.Output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_NE(splash.Output().find("splash: closed (keep-alive missing)"), std::string::npos) << splash.Output();
    EXPECT_LT(splash.Ended() - shown, 12s);
    ExpectNoEventsLeft(prefix);
}

// The starter's side: events created first (keep-alive signalled), pulsed every second, then
// hide/show signals, then the pulse stops.
TEST(SplashProcess, HidesShowsAndEndsAboutFiveSecondsAfterTheKeepAliveStops) {
    const std::string prefix = UniquePrefix();
    NamedEvent keepAlive = NamedEvent::CreateOrOpen(prefix + "-KEEP-ALIVE", true);
    NamedEvent hide = NamedEvent::CreateOrOpen(prefix + "-HIDE", false);
    NamedEvent show = NamedEvent::CreateOrOpen(prefix + "-SHOW", false);

    std::atomic<bool> pulsing{true};
    std::atomic<int64_t> lastPulse{0};
    std::thread keeper([&] {
        while (pulsing) {
            keepAlive.Set();
            lastPulse = ChildProcess::Clock::now().time_since_epoch().count();
            std::this_thread::sleep_for(1000ms);
        }
    });
    ChildProcess splash({ZOLM_SPLASH_PROGRAM, prefix, "/nonexistent/picture.jpg"}, kEnv);

    EXPECT_TRUE(splash.WaitForLine("splash: shown 600x420", 20s)) << splash.Output();
    hide.Set();
    EXPECT_TRUE(splash.WaitForLine("splash: hidden", 5s)) << splash.Output();
    // A second hide leaves it hidden; only a show brings it back.
    hide.Set();
    EXPECT_FALSE(splash.WaitForLine("splash: shown", 1500ms)) << splash.Output();
    show.Set();
    EXPECT_TRUE(splash.WaitForLine("splash: shown 600x420", 5s)) << splash.Output();
    // Hide and show within one interval: shown at the end.
    hide.Set();
    show.Set();
    EXPECT_TRUE(splash.WaitForLine("splash: shown", 5s)) << splash.Output();
    // Still alive well past one keep-alive period while pulsed.
    EXPECT_FALSE(splash.WaitForExit(7s).has_value()) << splash.Output();

    pulsing = false;
    keeper.join();
    const ChildProcess::Clock::time_point stopped{ChildProcess::Clock::duration(lastPulse.load())};
    auto status = splash.WaitForExit(30s);
    ASSERT_TRUE(status.has_value()) << splash.Output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_NE(splash.Output().find("splash: closed (keep-alive missing)"), std::string::npos) << splash.Output();
    // The last pulse is consumed by the next check at the latest; the check after that ends it.
    EXPECT_GT(splash.Ended() - stopped, 3s);
    EXPECT_LT(splash.Ended() - stopped, 15s);
    ExpectNoEventsLeft(prefix);
}

TEST(SplashProcess, WithoutDisplayEndsAtOnceAndRemovesTheEvents) {
    const std::string prefix = UniquePrefix();
    NamedEvent::CreateOrOpen(prefix + "-KEEP-ALIVE", true);
    NamedEvent::CreateOrOpen(prefix + "-HIDE", false);
    NamedEvent::CreateOrOpen(prefix + "-SHOW", false);
    ChildProcess splash({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                         ZOLM_SPLASH_PROGRAM, prefix},
                        {{"ZOLM_SPLASH_DEBUG", "1"}});
    auto status = splash.WaitForExit(20s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(splash.Output(), "splash: closed (no display)\n");
    ExpectNoEventsLeft(prefix);
}

}  // namespace
