// The folder-backed host table as a plug-in sees it: bare names only, replacing renames, stable
// serial numbers, and blocks that only come back once and only if they were handed out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "testing/test_host.h"

namespace {

using zolm::testing::TestHost;

class FolderMediaTable : public ::testing::Test {
protected:
    std::string Read(uint32_t medium, const char *name, int32_t &ok) {
        void *block = nullptr;
        uint32_t length = 0;
        ok = t.medium->readFile(medium, name, &block, &length);
        std::string bytes(static_cast<char *>(block), block ? length : 0);
        if (block) t.general->releaseMemory(medium, block, length);
        return bytes;
    }
    TestHost host;
    const HostTable &t = *host.Table();
};

TEST_F(FolderMediaTable, NamesThatLeaveTheFolderAreRefused) {
    for (const char *name : {"", ".", "..", "../escape", "sub/key.der", "/etc/passwd"}) {
        EXPECT_EQ(t.medium->writeFile(1, name, "x", 1), 0) << name;
        int32_t exists = 7;
        EXPECT_EQ(t.medium->fileExists(1, name, &exists), 0) << name;
        EXPECT_EQ(exists, 7) << name;
        EXPECT_EQ(t.medium->renameFile(1, "key.der", name), 0) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(host.Root() / "escape"));
}

TEST_F(FolderMediaTable, FilesAreRealPrivateAndReplacedWhole) {
    ASSERT_EQ(t.medium->writeFile(1, "keyn.der", "NEW", 3), 1);
    ASSERT_EQ(t.medium->writeFile(1, "key.der", "OLDER", 5), 1);
    struct stat st {};
    ASSERT_EQ(stat((host.Folder(1) / "keyn.der").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Rename replaces an existing file of the new name.
    ASSERT_EQ(t.medium->renameFile(1, "keyn.der", "key.der"), 1);
    int32_t ok = 0;
    EXPECT_EQ(Read(1, "key.der", ok), "NEW");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Read(1, "keyn.der", ok), "");
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(t.medium->deleteFile(1, "key.der"), 1);
    EXPECT_EQ(t.medium->deleteFile(1, "key.der"), 0);
    // Only the files themselves are left behind: no temporary files.
    EXPECT_TRUE(std::filesystem::is_empty(host.Folder(1)));
    EXPECT_EQ(t.medium->writeFile(9, "key.der", "x", 1), 0);  // unknown medium
}

TEST_F(FolderMediaTable, PathEndsWithSlashAndSerialNumbersAreStable) {
    char *path = nullptr;
    ASSERT_EQ(t.medium->getPath(1, &path), 1);
    EXPECT_EQ(std::string(path), host.Folder(1).string() + "/");
    EXPECT_EQ(t.medium->releaseMemory(1, path, static_cast<uint32_t>(std::strlen(path) + 1)), 1);

    auto serial = zolm::host::FolderMedia::DerivedSerialNumber;
    EXPECT_EQ(serial(host.Folder(1)), serial(host.Folder(1) / "." / ""));
    EXPECT_NE(serial(host.Folder(1)), serial(host.Folder(2)));
    EXPECT_EQ(serial(host.Folder(1)).size(), 19u);
    char *text = nullptr;
    ASSERT_EQ(t.medium->getSerialNumber(1, &text), 1);
    EXPECT_EQ(std::string(text), serial(host.Folder(1)));
    EXPECT_EQ(t.general->releaseMemory(1, text, static_cast<uint32_t>(std::strlen(text) + 1)), 1);
    EXPECT_EQ(host.BlockProblems(), std::vector<std::string>{});
}

TEST_F(FolderMediaTable, BlocksComeBackOnceAndOnlyIfHandedOut) {
    char foreign[4] = "abc";
    EXPECT_EQ(t.general->releaseMemory(1, foreign, 4), 0);
    char *path = nullptr;
    ASSERT_EQ(t.medium->getPath(1, &path), 1);
    uint32_t length = static_cast<uint32_t>(std::strlen(path) + 1);
    EXPECT_EQ(t.medium->releaseMemory(1, path, length - 1), 1);  // taken, but the length is reported
    EXPECT_EQ(t.medium->releaseMemory(1, path, length), 0);      // a second time: refused, not freed
    EXPECT_EQ(host.BlockProblems().size(), 3u);
    EXPECT_EQ(host.BlockProblems()[1], "medium.releaseMemory: length " + std::to_string(length - 1) +
                                           " for a block of " + std::to_string(length));
}

TEST_F(FolderMediaTable, NullOutputPointersFailWithoutWriting) {
    EXPECT_EQ(t.medium->getPath(1, nullptr), 0);
    EXPECT_EQ(t.medium->getSerialNumber(1, nullptr), 0);
    EXPECT_EQ(t.medium->fileExists(1, "a", nullptr), 0);
    EXPECT_EQ(t.medium->readFile(1, "a", nullptr, nullptr), 0);
    EXPECT_EQ(t.medium->writeFile(1, "a", nullptr, 5), 0);
    EXPECT_EQ(t.keyboard->keyPress(1, 'a', 0, 40, nullptr), 0);
    EXPECT_EQ(host.Outstanding().size(), 0u);
}

TEST_F(FolderMediaTable, ScriptsAndParameters) {
    host.AnswerConfirm({true});
    host.GiveKeys("x");
    host.SetParameter("no_key_callback", "1");
    EXPECT_EQ(t.general->confirm(1, "q1"), 1);
    EXPECT_EQ(t.general->confirm(1, "q2"), 0);  // script exhausted: no
    char c = 0;
    EXPECT_EQ(t.keyboard->keyPress(1, 'a', 5, 40, &c), 1);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(t.keyboard->keyPress(1, 'a', 5, 40, &c), 0);
    EXPECT_EQ(host.Calls()[2].args, (std::vector<std::string>{"1", "97", "5", "40"}));
    const char *value = t.parameters->getParameter(1, "no_key_callback");
    EXPECT_STREQ(value, "1");
    t.general->releaseMemory(1, const_cast<char *>(value), 2);
    host.Fail("confirm");
    host.AnswerConfirm({true});
    EXPECT_EQ(t.general->confirm(1, "q3"), 0);
    EXPECT_EQ(host.Questions(), (std::vector<std::string>{"q1", "q2", "q3"}));
}

}  // namespace
