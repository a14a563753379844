// Crash safety: installations killed with SIGKILL at random moments. After every kill "start.ini"
// is whole, "versions.current" names a complete version whose every file has its expected digest,
// and the next run completes the update. ZOLM_CRASH_TRIALS raises the number of trials.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "starter/file_sha1.h"
#include "test_support.h"
#include "tree_snapshot.h"

using namespace zolm::starter::testing;
namespace fs = std::filesystem;

namespace {

const std::string kIniBefore = "[versions]\nproduct=demo\ncurrent=1.0.0\n";
const std::string kIniAfter = "[versions]\nproduct=demo\ncurrent=1.0.1\n";

// The files of a folder with their digests (folders and modes aside).
std::map<std::string, std::string> Files(const std::string &folder) {
    std::map<std::string, std::string> files;
    for (const auto &[name, item] : TakeSnapshot(folder))
        if (item.kind != 'd') files[name] = item.digest;
    return files;
}

pid_t StartClient(const std::string &program, const std::string &answer, const std::string &temp) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TMPDIR", temp.c_str(), 1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execl(ZOLM_INSTALL_CLIENT, ZOLM_INSTALL_CLIENT, (program + "/").c_str(), answer.c_str(), nullptr);
        ::_exit(127);
    }
    return pid;
}

int Finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(InstallCrashSafety, KilledInstallationsLeaveAWholeVersionAndComplete) {
    TempDir source, program, temp;
    std::mt19937 random(12345);
    const std::string v1 = source / "1.0.0", v2 = source / "1.0.1";
    for (int i = 0; i < 24; ++i) {
        std::string name = (i % 3 == 0   ? "lib/"
                            : i % 3 == 1 ? "data/sub/"
                                         : "") +
                           std::string("file") + std::to_string(i);
        std::string content(10000 + random() % 50000, '\0');
        for (auto &c : content) c = static_cast<char>(random() % 7);  // compressible, like programs
        fs::create_directories(fs::path(v1 + "/" + name).parent_path());
        fs::create_directories(fs::path(v2 + "/" + name).parent_path());
        WriteFile(v1 + "/" + name, content);
        if (i % 12 == 5) continue;                                                        // removed
        if (i % 4 == 1) content.replace(content.size() / 3, 300, std::string(300, 'z'));  // modified
        WriteFile(v2 + "/" + name, content);
    }
    for (int i = 0; i < 3; ++i) {
        fs::create_directories(v2 + "/added/n" + std::to_string(i));
        WriteFile(v2 + "/added/n" + std::to_string(i) + "/new.bin", std::string(20000 + 1000 * i, 'a' + i));
    }
    const std::string answer = source / "answer.xml";
    ASSERT_EQ(std::system((std::string(ZOLM_PATCHMAKER) + " '" + v1 + "' '" + v2 + "' --out '" + answer + "'").c_str()),
              0);
    WriteFile(answer, "<response>" + ReadFile(answer) + "</response>");
    const auto before = Files(v1), after = Files(v2);

    const std::string versions = program / "VERSIONS";
    // 1.0.0 is installed once (every trial checks that it stays as it was); a reset removes what
    // the runs made beside it.
    fs::create_directories(versions);
    fs::copy(v1, versions + "/1.0.0", fs::copy_options::recursive);
    auto reset = [&] {
        for (const auto &entry : fs::directory_iterator(versions))
            if (entry.path().filename() != "1.0.0") fs::remove_all(entry.path());
        WriteFile(program / "start.ini", kIniBefore);
    };

    // One run to the end gives the time span the kills are spread over.
    reset();
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Finish(StartClient(program.path(), answer, temp.path())), 0);
    const auto span = std::chrono::steady_clock::now() - started;
    std::printf("one installation: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(span).count()));
    ASSERT_EQ(ReadFile(program / "start.ini"), kIniAfter);
    ASSERT_EQ(Files(versions + "/1.0.1"), after);

    int trials = 50;
    if (const char *more = std::getenv("ZOLM_CRASH_TRIALS")) trials = std::max(1, std::atoi(more));
    int killedBeforeSwitch = 0;
    for (int trial = 0; trial < trials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        reset();
        auto delay = std::chrono::duration_cast<std::chrono::microseconds>(span * 1.1) * (random() % 1000) / 1000;
        pid_t pid = StartClient(program.path(), answer, temp.path());
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        Finish(pid);

        const std::string ini = ReadFile(program / "start.ini");
        ASSERT_TRUE(ini == kIniBefore || ini == kIniAfter) << ini;
        const bool switched = ini == kIniAfter;
        killedBeforeSwitch += !switched;
        EXPECT_EQ(Files(versions + (switched ? "/1.0.1" : "/1.0.0")), switched ? after : before);
        EXPECT_EQ(Files(versions + "/1.0.0"), before);  // the installed version is never written

        ASSERT_EQ(Finish(StartClient(program.path(), answer, temp.path())), 0);
        EXPECT_EQ(ReadFile(program / "start.ini"), kIniAfter);
        EXPECT_EQ(Files(versions + "/1.0.1"), after);
    }
    std::printf("%d of %d installations killed before the switch\n", killedBeforeSwitch, trials);
}

}  // namespace
