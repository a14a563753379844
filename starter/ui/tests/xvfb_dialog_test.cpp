// End to end in a real X server (its own Xvfb on a free display). The starter's question dialog
// opens as a real window over the splash, takes the keyboard focus and is answered through the
// window system (xdotool typing into it), which ends its modal loop; the splash is a topmost splash
// window that Escape closes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_objects.h"
#include "splash/tests/child_process.h"

namespace {

using namespace std::chrono_literals;
using zolm::testing::ChildProcess;

bool OnPath(const char *program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// The process id an X server wrote into the lock file of display number; -1 when unreadable.
pid_t LockHolder(int number) {
    FILE *file = fopen(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), "r");
    if (file == nullptr) return -1;
    long pid = -1;
    if (fscanf(file, "%ld", &pid) != 1) pid = -1;
    fclose(file);
    return static_cast<pid_t>(pid);
}

// Xvfb on the first free display from :90 on, stopped when the test ends. A display another server
// takes meanwhile is skipped: the one we start then ends at once and the next number is tried.
class Xvfb {
public:
    Xvfb() {
        for (int number = 90; number < 190 && display_.empty(); ++number) {
            if (Exists("/tmp/.X" + std::to_string(number) + "-lock") ||
                Exists("/tmp/.X11-unix/X" + std::to_string(number))) {
                continue;
            }
            const std::string display = ":" + std::to_string(number);
            pid_ = fork();
            if (pid_ == 0) {
                int devnull = open("/dev/null", O_RDWR);
                dup2(devnull, 1);
                dup2(devnull, 2);
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                       static_cast<char *>(nullptr));
                _exit(127);
            }
            for (int attempt = 0; attempt < 100; ++attempt) {
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                // Ready, and ours: the display's lock file names our server.
                if (std::system(("xdpyinfo -display " + display + " >/dev/null 2>&1").c_str()) == 0) {
                    if (LockHolder(number) == pid_) display_ = display;
                    break;
                }
                usleep(100000);
            }
            if (display_.empty()) Stop();
        }
    }
    ~Xvfb() { Stop(); }
    // Empty when no server could be started.
    const std::string &Display() const { return display_; }

private:
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string display_;
};

// Runs a command with DISPLAY set; its standard output (trimmed) or "" on failure.
std::string RunOn(const std::string &display, const std::string &command) {
    const std::string line = "DISPLAY=" + display + " timeout 30 " + command + " 2>&1";
    FILE *pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

bool IsWindowId(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The window an xdotool search finds: the last one listed when it lists several (the newest), ""
// when none. A loaded machine has seen xdotool fail to connect once, so a failed search is repeated.
std::string FindWindow(const std::string &display, const std::string &search) {
    std::string out;
    for (int attempt = 0; attempt < 3; ++attempt) {
        out = RunOn(display, "xdotool search --sync " + search);
        std::string last = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
        bool allIds = true;
        for (size_t at = 0; at <= out.size();) {
            size_t end = std::min(out.find('\n', at), out.size());
            allIds = allIds && IsWindowId(out.substr(at, end - at));
            at = end + 1;
        }
        if (allIds) return last;
    }
    std::fprintf(stderr, "xdotool search %s: %s\n", search.c_str(), out.c_str());
    return "";
}

struct KeyCase {
    const char *name;
    const char *key;
    int result;  // ModalResult
};

class XvfbDialog : public ::testing::TestWithParam<KeyCase> {};

void PrintTo(const KeyCase &c, std::ostream *out) { *out << c.name; }

TEST_P(XvfbDialog, QuestionIsAnsweredThroughTheWindowSystem) {
    if (!OnPath("Xvfb") || !OnPath("xdotool") || !OnPath("xdpyinfo")) {
        GTEST_SKIP() << "Xvfb, xdotool and xdpyinfo are needed (scripts/packages/base.txt)";
    }
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    std::vector<std::pair<std::string, std::string>> env = {{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}};
    // Sanitizer runs: libxkbcommon-x11 hands strndup a buffer of exactly n bytes without a NUL, which
    // is legal but trips ASan's strict string checks; keep every other check.
    if (const char *asan = std::getenv("ASAN_OPTIONS"); asan != nullptr && *asan != '\0') {
        env.emplace_back("ASAN_OPTIONS", std::string(asan) + ":strict_string_checks=0");
    }
    ChildProcess driver({ZOLM_DIALOG_DRIVER, "Продолжить запуск приложения ?"}, env);
    // The dialog waits until the splash has been up 3.1 s, then opens: search for its caption.
    const std::string window = FindWindow(x.Display(), "--name 'Подтвердите выбор'");
    ASSERT_FALSE(window.empty()) << "no question window on " << x.Display() << "\n" << driver.Output();
    const std::string focused =
        RunOn(x.Display(), "sh -c 'xdotool windowfocus --sync " + window + " && sleep 0.3 && xdotool getwindowfocus'");
    EXPECT_EQ(focused, window) << "the dialog holds the keyboard focus";
    RunOn(x.Display(), std::string("xdotool key --clearmodifiers ") + GetParam().key);
    auto status = driver.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the modal loop did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << driver.Output();
    EXPECT_NE(driver.Output().find("result=" + std::to_string(GetParam().result) + "\n"), std::string::npos)
        << driver.Output();
}

INSTANTIATE_TEST_SUITE_P(Keys, XvfbDialog,
                         ::testing::Values(KeyCase{"ReturnIsYes", "Return", 6}, KeyCase{"EscapeIsCancel", "Escape", 2},
                                           KeyCase{"TabTabReturnIsCancel", "Tab Tab Return", 2}),
                         [](const auto &info) { return std::string(info.param.name); });

// The starter itself on a real X server: its probe cannot reach the server, so the connection error
// dialog opens over the splash; Escape closes it, which counts as Abort, and the run ends with exit
// code 0 without starting anything.
TEST(XvfbStarter, ConnectionErrorDialogIsAnsweredThroughTheWindowSystem) {
    if (!OnPath("Xvfb") || !OnPath("xdotool") || !OnPath("xdpyinfo")) {
        GTEST_SKIP() << "Xvfb, xdotool and xdpyinfo are needed (scripts/packages/base.txt)";
    }
    char folderTemplate[] = "/tmp/zolm-xvfb-starter-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    ASSERT_EQ(std::system(("cp '" + std::string(ZOLM_STARTER) + "' '" + folder + "/starter' && mkdir '" + folder +
                           "/appdata' '" + folder + "/runtime' && chmod 700 '" + folder + "/runtime'")
                              .c_str()),
              0);
    FILE *ini = fopen((folder + "/start.ini").c_str(), "w");
    ASSERT_NE(ini, nullptr);
    fputs("[application]\ntitle=Зольм\nmain=app\n[versions]\nproduct=demo\ncurrent=1.0\n"
          "[proxy]\ntype=INTERNET_OPEN_TYPE_DIRECT\n[probe]\nurl=https://127.0.0.1:1/probe.txt\ncontent=ok\n",
          ini);
    fclose(ini);

    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    std::vector<std::pair<std::string, std::string>> env = {{"DISPLAY", x.Display()},
                                                            {"QT_QPA_PLATFORM", "xcb"},
                                                            {"APPDATA", folder + "/appdata"},
                                                            {"XDG_RUNTIME_DIR", folder + "/runtime"}};
    if (const char *asan = std::getenv("ASAN_OPTIONS"); asan != nullptr && *asan != '\0') {
        env.emplace_back("ASAN_OPTIONS", std::string(asan) + ":strict_string_checks=0");
    }
    {
        ChildProcess starter({folder + "/starter"}, env);
        const std::string window = FindWindow(x.Display(), "--name 'Проверка доступа в Интернет'");
        ASSERT_FALSE(window.empty()) << "no connection error window on " << x.Display() << "\n" << starter.Output();
        RunOn(x.Display(), "sh -c 'xdotool windowfocus --sync " + window + " && sleep 0.3'");
        RunOn(x.Display(), "xdotool key --clearmodifiers Escape");
        auto status = starter.WaitForExit(60s);
        ASSERT_TRUE(status.has_value()) << "the starter did not end";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << starter.Output();
    }
    std::system(("rm -rf '" + folder + "'").c_str());
}

// The splash on a real X server: topmost splash window of the picture's size, closed by Escape,
// its events removed.
TEST(XvfbSplash, TopmostSplashWindowClosedByEscape) {
    if (!OnPath("Xvfb") || !OnPath("xdotool") || !OnPath("xdpyinfo") || !OnPath("xprop") || !OnPath("xwininfo")) {
        GTEST_SKIP() << "Xvfb, xdotool and x11-utils are needed (scripts/packages/base.txt)";
    }
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    const std::string prefix = "XVFB-SPLASH-TEST-" + std::to_string(getpid());
    // Kept alive past the first check, so only Escape can end it within the test.
    zolm::platform::NamedEvent keepAlive = zolm::platform::NamedEvent::CreateOrOpen(prefix + "-KEEP-ALIVE", true);
    std::vector<std::pair<std::string, std::string>> env = {{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}};
    if (const char *asan = std::getenv("ASAN_OPTIONS"); asan != nullptr && *asan != '\0') {
        env.emplace_back("ASAN_OPTIONS", std::string(asan) + ":strict_string_checks=0");
    }
    ChildProcess splash({ZOLM_SPLASH_PROGRAM, prefix, "/nonexistent.jpg"}, env);
    const std::string window = FindWindow(x.Display(), "--onlyvisible --class splash");
    ASSERT_FALSE(window.empty()) << splash.Output();
    const std::string geometry = RunOn(x.Display(), "xwininfo -id " + window);
    EXPECT_NE(geometry.find("Width: 600"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Height: 420"), std::string::npos) << geometry;
    const std::string properties = RunOn(x.Display(), "xprop -id " + window);
    EXPECT_NE(properties.find("_NET_WM_STATE_ABOVE"), std::string::npos) << properties;
    EXPECT_NE(properties.find("_NET_WM_WINDOW_TYPE_SPLASH"), std::string::npos) << properties;

    RunOn(x.Display(), "xdotool windowfocus --sync " + window + " key Escape");
    auto status = splash.WaitForExit(20s);
    ASSERT_TRUE(status.has_value()) << "Escape did not close the splash";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << splash.Output();
    for (const char *suffix : {"-HIDE", "-SHOW", "-KEEP-ALIVE"}) {
        EXPECT_FALSE(zolm::platform::NamedEvent::Open(prefix + suffix).has_value()) << suffix;
    }
}

}  // namespace
