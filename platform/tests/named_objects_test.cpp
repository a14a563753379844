// Named objects across processes: exclusion, release by a dying holder, the marker lock, and events.
#include "platform/named_objects.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace zolm::platform;

namespace {

// Every test gets its own private runtime folder and names no other test run uses.
class NamedObjects : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zolm-objects-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        runtime_ = tmpl;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        prefix_ = "test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { fs::remove_all(runtime_); }

    std::string runtime_;
    std::string prefix_;
};

// Runs body in a child process that exits with its result; returns the child's pid.
template <typename F>
pid_t Child(F body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(ObjectNames, EncodingKeepsPlainNamesAndEscapesTheRest) {
    struct Case {
        const char *name;
        const char *encoded;
    } cases[] = {
        {"0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB-KEEP-ALIVE", "0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB-KEEP-ALIVE"},
        {"Dovetane starter: start.ini access mutex", "Dovetane%20starter%3A%20start%2Eini%20access%20mutex"},
        {"../x/y", "%2E%2E%2Fx%2Fy"},
        {"a_b%", "a_b%25"},
        {"\xd0\x96", "%D0%96"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(EncodeObjectName(c.name), c.encoded) << c.name;
}

TEST(ObjectNames, LongNamesAreCutAndHashedDistinctly) {
    std::string a(300, 'x'), b(300, 'x');
    b.back() = 'y';
    std::string ea = EncodeObjectName(a), eb = EncodeObjectName(b);
    EXPECT_EQ(ea.size(), 197u);
    EXPECT_EQ(ea.substr(0, 181), std::string(180, 'x') + "~");
    EXPECT_NE(ea, eb);
    // A cut never leaves half an escape behind.
    std::string spaces(300, ' ');
    std::string es = EncodeObjectName(spaces);
    EXPECT_EQ(es.find('~') % 3, 0u);
}

TEST_F(NamedObjects, PathsFollowTheRule) {
    EXPECT_EQ(LockFilePath("a b"), runtime_ + "/a%20b.lock");
    EXPECT_EQ(EventObjectName("G-HIDE"), "/zolm-" + std::to_string(geteuid()) + "-G-HIDE");
}

TEST_F(NamedObjects, RuntimeFolderOpenToOthersIsNotUsed) {
    ASSERT_EQ(chmod(runtime_.c_str(), 0755), 0);
    EXPECT_EQ(RuntimeFolder(), "/tmp/zolm-" + std::to_string(geteuid()));
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(RuntimeFolder(), "/tmp/zolm-" + std::to_string(geteuid()));
    struct stat st {};
    ASSERT_EQ(lstat(RuntimeFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(NamedObjects, RuntimeFolderOfAnotherUserIsNotUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
    ASSERT_EQ(chown(runtime_.c_str(), 65534, 65534), 0);
    EXPECT_NE(RuntimeFolder(), runtime_);
}

TEST_F(NamedObjects, MutexExcludesOtherProcessesAndIsReleasedWhenTheHolderDies) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::string name = prefix_ + " mutex";
    pid_t holder = Child([&] {
        NamedMutex mutex(name);
        mutex.lock();
        char c = 1;
        if (write(ready[1], &c, 1) != 1) return 1;
        pause();
        return 0;
    });
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_FALSE(TryLockNamed(name).has_value()) << "the holder's lock must exclude us";

    kill(holder, SIGKILL);
    EXPECT_EQ(ExitCode(holder), 128 + SIGKILL);
    NamedMutex mutex(name);
    mutex.lock();  // would wait forever if the dead holder kept it
    mutex.unlock();
    close(ready[0]);
    close(ready[1]);
}

TEST_F(NamedObjects, MutexExcludesThreadsOfOneProcess) {
    NamedMutex mutex(prefix_);
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                std::lock_guard<NamedMutex> hold(mutex);
                int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(counter, 800);
}

TEST_F(NamedObjects, MarkerLockIsTakenWithoutWaiting) {
    std::string name = prefix_ + " update in progress";
    {
        auto first = TryLockNamed(name);
        ASSERT_TRUE(first.has_value());
        EXPECT_FALSE(TryLockNamed(name).has_value());
        pid_t other = Child([&] { return TryLockNamed(name).has_value() ? 1 : 0; });
        EXPECT_EQ(ExitCode(other), 0) << "another process must see the marker";
    }
    EXPECT_TRUE(TryLockNamed(name).has_value()) << "released with its holder";
}

TEST_F(NamedObjects, EventCreateOrOpenReportsExistenceAndResetsOnTest) {
    std::string name = prefix_ + "-KEEP-ALIVE";
    bool existed = true;
    NamedEvent created = NamedEvent::CreateOrOpen(name, true, &existed);
    EXPECT_FALSE(existed);
    NamedEvent opened = NamedEvent::CreateOrOpen(name, false, &existed);
    EXPECT_TRUE(existed);
    EXPECT_TRUE(opened.Test()) << "created signalled; opening keeps the state";
    EXPECT_FALSE(created.Test()) << "a test consumes the signal for every handle";
    created.Set();
    created.Set();
    EXPECT_TRUE(opened.Test());
    EXPECT_FALSE(opened.Test());
    NamedEvent::Remove(name);
    EXPECT_FALSE(NamedEvent::Open(name).has_value());
    EXPECT_FALSE(fs::exists("/dev/shm" + EventObjectName(name)));
    NamedEvent::Remove(name);  // absent: no error
}

TEST_F(NamedObjects, EventIsSharedWithOtherProcesses) {
    std::string name = prefix_ + "-HIDE";
    bool existed = true;
    NamedEvent event = NamedEvent::CreateOrOpen(name, false, &existed);
    EXPECT_FALSE(existed);
    pid_t child = Child([&] {
        auto other = NamedEvent::Open(name);
        if (!other) return 2;
        other->Set();
        return 0;
    });
    EXPECT_EQ(ExitCode(child), 0);
    EXPECT_TRUE(event.Test());
    NamedEvent::Remove(name);
}

TEST_F(NamedObjects, EventOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the object away";
    std::string name = prefix_ + "-SHOW";
    { NamedEvent::CreateOrOpen(name, false); }
    ASSERT_EQ(chown(("/dev/shm" + EventObjectName(name)).c_str(), 65534, 65534), 0);
    EXPECT_THROW(NamedEvent::CreateOrOpen(name, false), std::system_error);
    EXPECT_THROW(NamedEvent::Open(name), std::system_error);
    NamedEvent::Remove(name);
}
