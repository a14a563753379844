// The profile format: reading like GetPrivateProfileString, writing like WritePrivateProfileString,
// bad input, and the atomic replacement of the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "starter/profile_file.h"
#include "test_support.h"

using namespace zolm::starter;
using zolm::starter::testing::ReadFile;
using zolm::starter::testing::TempDir;
using zolm::starter::testing::WriteFile;

TEST(ProfileRead, Cases) {
    struct Case {
        const char *name;
        std::string content;
        const char *section, *key, *expected;
    } cases[] = {
        {"plain", "[proxy]\nhost=h\n", "proxy", "host", "h"},
        {"case and blanks", "  [ Proxy ]  \n  HOST  =  h v  \n", "proxy", "host", "h v"},
        {"first key wins", "[a]\nk=1\nk=2\n", "a", "k", "1"},
        {"later duplicate section", "[a]\nx=1\n[b]\n[a]\nk=3\n", "a", "k", "3"},
        {"other section", "[a]\nk=1\n[b]\nk=2\n", "b", "k", "2"},
        {"absent key gives default", "[a]\nk=1\n", "a", "z", "<def>"},
        {"absent section gives default", "[a]\nk=1\n", "b", "k", "<def>"},
        {"empty value is present", "[a]\nk=\n", "a", "k", ""},
        {"quotes dropped", "[a]\nk=\" q \"\n", "a", "k", " q "},
        {"single quotes dropped", "[a]\nk='q'\n", "a", "k", "q"},
        {"unmatched quote kept", "[a]\nk=\"q\n", "a", "k", "\"q"},
        {"value holding =", "[a]\nk=x=y\n", "a", "k", "x=y"},
        {"CR LF", "[a]\r\nk=v\r\n", "a", "k", "v"},
        {"CR only", "[a]\rk=v\r", "a", "k", "v"},
        {"byte order mark", "\xEF\xBB\xBF[a]\nk=v\n", "a", "k", "v"},
        {"no sections", "k=v\n", "", "k", "<def>"},
        {"line without =", "[a]\nk\n", "a", "k", "<def>"},
        {"comment", "[a]\n;k=v\n", "a", "k", "<def>"},
        {"no final line end", "[a]\nk=v", "a", "k", "v"},
        {"NUL ends the value", std::string("[a]\nk=v\0w\n", 10), "a", "k", "v"},
        {"section without ]", "[a\nk=v\n", "a", "k", "v"},
        {"UTF-8 text", "[app]\ntitle=Клиент\n", "app", "title", "Клиент"},
        {"empty file", "", "a", "k", "<def>"},
        {"control characters are not blanks", "[a]\nk= \x01 \n", "a", "k", "\x01"},
    };
    for (const auto &c : cases) EXPECT_EQ(ProfileGetString(c.content, c.section, c.key, "<def>"), c.expected) << c.name;
}

TEST(ProfileRead, LongValuesAreCutTo2047Bytes) {
    std::string value(5000, 'x');
    EXPECT_EQ(ProfileGetString("[a]\nk=" + value + "\n", "a", "k", ""), std::string(2047, 'x'));
    EXPECT_EQ(ProfileGetString("", "a", "k", value), std::string(2047, 'x'));
    // A two-byte character across the limit is dropped whole, never split.
    std::string cyrillic = std::string(2046, 'x') + "Ж";
    EXPECT_EQ(ProfileGetString("[a]\nk=" + cyrillic + "\n", "a", "k", ""), std::string(2046, 'x'));
}

TEST(ProfileRead, BadInputNeverFails) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xff);
    std::string hugeLine(10 * 1024 * 1024, 'z');
    std::string inputs[] = {garbage, "[a]\n" + hugeLine + "\nk=v\n", "[a]\nk=" + hugeLine + "\n", "[[[]]]===\n\n\r\r",
                            std::string(100, '\0')};
    for (const auto &input : inputs) {
        EXPECT_NO_THROW(ProfileGetString(input, "a", "k", ""));
        EXPECT_NO_THROW(ProfileGetString(input, "", "", ""));
    }
    EXPECT_EQ(ProfileGetString("[a]\n" + hugeLine + "\nk=v\n", "a", "k", ""), "v");
}

TEST(ProfileWrite, Cases) {
    struct Case {
        const char *name;
        std::string before;
        const char *section, *key, *value;
        std::string after;
    } cases[] = {
        {"replace in place", "[a]\nk=1\nz=2\n", "a", "k", "9", "[a]\nk=9\nz=2\n"},
        {"replace keeps the file's name", "[A]\n  KeY = 1 \n", "a", "key", "9", "[A]\nKeY=9\n"},
        {"new key after the section's last line", "[a]\nx=1\n\n[b]\ny=2\n", "a", "k", "v", "[a]\nx=1\nk=v\n\n[b]\ny=2\n"},
        {"new section appended", "[a]\nx=1\n", "b", "k", "v", "[a]\nx=1\n[b]\nk=v\n"},
        {"empty file", "", "versions", "product", "", "[versions]\nproduct=\n"},
        {"CR LF kept and used", "[a]\r\nx=1\r\n", "a", "k", "v", "[a]\r\nx=1\r\nk=v\r\n"},
        {"no final line end", "[a]\nx=1", "a", "k", "v", "[a]\nx=1\nk=v\n"},
        {"no final line end, new section", "x", "b", "k", "v", "x\n[b]\nk=v\n"},
        {"byte order mark kept", "\xEF\xBB\xBF[a]\nx=1\n", "a", "x", "2", "\xEF\xBB\xBF[a]\nx=2\n"},
        {"byte order mark only", "\xEF\xBB\xBF", "a", "x", "2", "\xEF\xBB\xBF[a]\nx=2\n"},
        {"lines without = and comments kept", "junk\n[a]\n;c\nbare\n", "a", "k", "v", "junk\n[a]\n;c\nbare\nk=v\n"},
        {"only the first section is changed", "[a]\nk=1\n[a]\nk=2\n", "a", "k", "3", "[a]\nk=3\n[a]\nk=2\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(ProfileSetString(c.before, c.section, c.key, c.value), c.after) << c.name;
}

TEST(ProfileWrite, KeepsEveryOtherLineOfGarbage) {
    std::string garbage = std::string("\x01\x02[\xff]\n=x\n\r\n\0\0\n", 14) + std::string(10 * 1024 * 1024, 'q') + "\n";
    std::string written = ProfileSetString(garbage, "proxy", "host", "h");
    EXPECT_EQ(written.substr(0, garbage.size()), garbage);
    EXPECT_EQ(ProfileGetString(written, "proxy", "host", ""), "h");
}

class ProfileFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "start.ini";
};

TEST_F(ProfileFile, MissingFileReadsDefaultAndIsCreatedOnWrite) {
    EXPECT_EQ(ReadProfileString(path, "a", "k", "d"), "d");
    ASSERT_TRUE(WriteProfileString(path, "a", "k", "v"));
    EXPECT_EQ(ReadFile(path), "[a]\nk=v\n");
    EXPECT_EQ(ReadProfileString(path, "a", "k", ""), "v");
}

TEST_F(ProfileFile, WriteKeepsModeAndLeavesNoTemporaryFile) {
    WriteFile(path, "[a]\nk=1\n");
    chmod(path.c_str(), 0640);
    ASSERT_TRUE(WriteProfileString(path, "a", "k", "2"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    size_t entries = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(ProfileFile, AWriteRemovesWhatAKilledWriterLeftButNoOtherFile) {
    WriteFile(dir / ".start.ini.tmp-Ab12Cd", "[half");  // a writer killed before its rename
    WriteFile(dir / "start.ini.backup", "[user's own]\n");
    WriteFile(dir / ".start.ini.tmp-longer-name", "kept");
    ASSERT_TRUE(WriteProfileString(path, "a", "k", "v"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".start.ini.tmp-Ab12Cd"));
    EXPECT_EQ(ReadFile(dir / "start.ini.backup"), "[user's own]\n");
    EXPECT_EQ(ReadFile(dir / ".start.ini.tmp-longer-name"), "kept");
}

TEST_F(ProfileFile, WriteThroughASymbolicLinkReplacesItsTarget) {
    std::string real = dir / "real.ini";
    WriteFile(real, "[a]\nk=1\n");
    ASSERT_EQ(symlink(real.c_str(), path.c_str()), 0);
    ASSERT_TRUE(WriteProfileString(path, "a", "k", "2"));
    EXPECT_EQ(ReadFile(real), "[a]\nk=2\n");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ProfileFile, AFolderInTheFilesPlaceFailsTheWriteAndReadsEmpty) {
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(ReadProfileString(path, "a", "k", "d"), "d");
    errno = 0;
    EXPECT_FALSE(WriteProfileString(path, "a", "k", "v"));
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(ProfileFile, MissingFolderFailsTheWrite) {
    errno = 0;
    EXPECT_FALSE(WriteProfileString(dir / "none/start.ini", "a", "k", "v"));
    EXPECT_EQ(errno, ENOENT);
}
