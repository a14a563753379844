// The shared utilities: error texts, environment, splitting, random texts, files and resources.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "starter/env_var.h"
#include "starter/last_error.h"
#include "starter/random_text.h"
#include "starter/split_by.h"
#include "starter/starter_error.h"
#include "starter/temp_file.h"
#include "test_support.h"

using namespace zolm::starter;
using zolm::starter::testing::ReadFile;
using zolm::starter::testing::TempDir;
using zolm::starter::testing::WriteFile;
namespace fs = std::filesystem;

TEST(LastErrorText, FormsForKnownUnknownAndNoCode) {
    EXPECT_EQ(LastErrorText("CreateFile(\"/x\")", ENOENT), "Вызов CreateFile(\"/x\") вернул ошибку 2: No such file or directory");
    EXPECT_EQ(LastErrorText("X", 99999), "Вызов X вернул ошибку 99999 (?!)");
    errno = EACCES;
    EXPECT_EQ(LastErrorText("Y"), "Вызов Y вернул ошибку 13: Permission denied");
    errno = 0;
    EXPECT_EQ(LastErrorText("Y"), "");
}

TEST(LastErrorText, SecondTableAnswersCodesErrnoDoesNotKnow) {
    RegisterErrorTexts([](int code) -> const char * { return code == 12007 ? "  The server name could not be resolved\r\n" : nullptr; });
    EXPECT_EQ(LastErrorText("HttpSendRequest", 12007), "Вызов HttpSendRequest вернул ошибку 12007: The server name could not be resolved");
    EXPECT_EQ(LastErrorText("HttpSendRequest", 12999), "Вызов HttpSendRequest вернул ошибку 12999 (?!)");
    RegisterErrorTexts(nullptr);
}

TEST(RaiseLastError, RaisesTheTextAndNeverAnEmptyOne) {
    try {
        RaiseLastError("GetTempPath", ENOTDIR);
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_STREQ(e.what(), "Вызов GetTempPath вернул ошибку 20: Not a directory");
    }
    errno = 0;
    try {
        RaiseLastError("Z");
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_STREQ(e.what(), "Вызов Z вернул ошибку 0 (?!)");
    }
}

TEST(GetEnvVar, UnsetAndEmptyReadEmpty) {
    setenv("ZOLM_T_SET", "value", 1);
    setenv("ZOLM_T_EMPTY", "", 1);
    unsetenv("ZOLM_T_UNSET");
    EXPECT_EQ(GetEnvVar("ZOLM_T_SET"), "value");
    EXPECT_EQ(GetEnvVar("ZOLM_T_EMPTY"), "");
    EXPECT_EQ(GetEnvVar("ZOLM_T_UNSET"), "");
}

TEST(SplitBy, Cases) {
    struct Case {
        const char *text, *separator;
        bool trim, found;
        const char *before, *after;
    } cases[] = {
        {"Proxy.Host", ".", true, true, "Proxy", "Host"},
        {" proxy . host ", ".", true, true, "proxy", "host"},
        {" proxy . host ", ".", false, true, " proxy ", " host "},
        {"  no separator  ", ".", true, false, "  no separator  ", ""},
        {"a.b.c", ".", true, true, "a", "b.c"},
        {"KeyXvalue", "x", false, true, "Key", "value"},
        {"abc", "", true, false, "abc", ""},
        {"", ".", true, false, "", ""},
    };
    for (const auto &c : cases) {
        SplitResult r = SplitBy(c.text, c.separator, c.trim);
        EXPECT_EQ(r.found, c.found) << c.text;
        EXPECT_EQ(r.before, c.before) << c.text;
        EXPECT_EQ(r.after, c.after) << c.text;
    }
}

TEST(RandomText, DrawsFromTheAlphabetAndFollowsTheSeed) {
    EXPECT_EQ(RandomText(0), "");
    std::string text = RandomText(3);
    ASSERT_EQ(text.size(), 3u);
    std::string many = RandomText(2000);
    for (char c : text + many) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << c;
    EXPECT_NE(many.find('9'), std::string::npos);
    EXPECT_NE(many.find('A'), std::string::npos);
    SeedRandom(42);
    std::string first = RandomText(16);
    SeedRandom(42);
    EXPECT_EQ(RandomText(16), first);
}

class Files : public ::testing::Test {
protected:
    void SetUp() override { setenv("TMPDIR", dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("TMPDIR"); }
    size_t Entries() const {
        size_t n = 0;
        for ([[maybe_unused]] auto &e : fs::directory_iterator(dir.path())) ++n;
        return n;
    }
    TempDir dir;
};

TEST_F(Files, TempFileIsNewPrivateAndInTmpdir) {
    std::string a = CreateTempFile(), b = CreateTempFile();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir.path() + "/tmp", 0), 0u) << a;
    struct stat st {};
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(Files, TempFolderMissingRaisesGetTempPath) {
    setenv("TMPDIR", (dir / "missing").c_str(), 1);
    try {
        CreateTempFile();
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_STREQ(e.what(), "Вызов GetTempPath вернул ошибку 2: No such file or directory");
    }
}

TEST_F(Files, WholeFileRoundTripAndEdgeCases) {
    std::string path = dir / "data.bin";
    std::string bytes("a\0b\xff", 4);
    WriteWholeFile(path, bytes.data(), bytes.size(), false);
    SecureBytes read = ReadWholeFile(path);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(read.data()), read.size()), bytes);

    WriteWholeFile(path, nullptr, 0, true);  // replace with nothing
    EXPECT_EQ(ReadWholeFile(path).size(), 0u);

    try {
        WriteWholeFile(path, "x", 1, false);  // create only when absent
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()), "Вызов CreateFile(\"" + path + "\") вернул ошибку 17: File exists");
    }
    try {
        ReadWholeFile(dir / "missing");
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()), "Вызов CreateFile(\"" + (dir / "missing") + "\") вернул ошибку 2: No such file or directory");
    }
    try {
        ReadWholeFile(dir.path());
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()), "Вызов CreateFile(\"" + dir.path() + "\") вернул ошибку 21: Is a directory");
    }
}

TEST_F(Files, WipeAndFreeZeroesAndResets) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[4]{1, 2, 3, 4});
    WipeAndFree(buffer, 4);
    EXPECT_EQ(buffer, nullptr);
    WipeAndFree(buffer, 4);  // nothing to free: no error
    SecureBytes bytes(3);
    bytes.data()[0] = 7;
    SecureBytes moved = std::move(bytes);
    EXPECT_EQ(bytes.size(), 0u);
    EXPECT_EQ(moved.size(), 3u);
    moved.Wipe();
    EXPECT_EQ(moved.data(), nullptr);
}

namespace {
const uint8_t kSplash[] = {0x7f, 'E', 'L', 'F', 0, 1};
std::optional<std::span<const uint8_t>> TestResources(std::string_view name) {
    if (name == "SPLASH_EXE") return std::span<const uint8_t>(kSplash);
    return std::nullopt;
}
}  // namespace

TEST_F(Files, ResourceIsWrittenToANewTempFile) {
    std::string path = WriteResourceToTempFile("SPLASH_EXE", TestResources);
    EXPECT_EQ(ReadFile(path), std::string(reinterpret_cast<const char *>(kSplash), sizeof kSplash));
    EXPECT_EQ(path.rfind(dir.path() + "/tmp", 0), 0u);
}

TEST_F(Files, MissingResourceLeavesNoTempFileBehind) {
    try {
        WriteResourceToTempFile("BSPATCH_EXE", TestResources);
        FAIL();
    } catch (const StarterError &e) {
        EXPECT_STREQ(e.what(), "Вызов FindResource(\"BSPATCH_EXE\") вернул ошибку 2: No such file or directory");
    }
    EXPECT_EQ(Entries(), 0u);
}
