// The settings store in one process with a writable program directory: the write test, DataFolder,
// VersionDirectory's program form, key checks and long values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "starter/start_config.h"
#include "starter/starter_error.h"
#include "test_support.h"

using namespace zolm::starter;
using zolm::starter::testing::ReadFile;
using zolm::starter::testing::TempDir;
using zolm::starter::testing::WriteFile;
namespace fs = std::filesystem;

namespace {

class Store : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        setenv("APPDATA", appdata.path().c_str(), 1);
    }
    TempDir program, runtime, appdata;
    std::string dir = program.path() + "/";
};

}  // namespace

TEST_F(Store, WritableProgramDirectoryNeverCreatesPerUserFiles) {
    SettingsStore store(dir);
    EXPECT_EQ(ReadFile(dir + "start.ini"), "[versions]\nproduct=\n");  // the write test
    EXPECT_FALSE(store.PerUserFile().has_value());
    store.WriteSetting("proxy.host", "h");
    EXPECT_EQ(store.ReadSetting("proxy.host"), "h");
    EXPECT_EQ(store.VersionDirectory("1.0"), dir + "VERSIONS/1.0/");
    EXPECT_TRUE(fs::is_empty(appdata.path()));
    EXPECT_FALSE(store.PerUserFile().has_value());
}

TEST_F(Store, WriteTestKeepsTheInstallersFile) {
    WriteFile(dir + "start.ini", "; installed\r\n[versions]\r\nproduct=demo\r\ncurrent=1.0\r\n[probe]\r\nurl=https://x/\r\n");
    std::string before = ReadFile(dir + "start.ini");
    SettingsStore store(dir);
    EXPECT_EQ(ReadFile(dir + "start.ini"), before);
    EXPECT_EQ(store.ReadSetting("versions.current"), "1.0");
    EXPECT_EQ(store.ReadSetting(" Probe . URL "), "https://x/");
    EXPECT_EQ(store.ReadSetting("versions.absent"), "");
    EXPECT_EQ(store.ReadSetting("no-dot"), "");
    EXPECT_EQ(store.ReadSetting(""), "");
}

TEST_F(Store, DataFolderSources) {
    WriteFile(dir + "start.ini", "[versions]\nproduct=demo\n");
    SettingsStore store(dir);
    struct Case {
        const char *appdata, *xdg, *home, *temp, *tmpdir, *expected;
    } cases[] = {
        {"/a/", "/x", "/h", "/t", "/d", "/a/Quillmoor/demo/"},
        {"", "/x", "/h", "/t", "/d", "/x/Quillmoor/demo/"},
        {nullptr, "relative", "/h", "/t", "/d", "/h/.local/share/Quillmoor/demo/"},
        {nullptr, nullptr, nullptr, "/t", "/d", "/t/Quillmoor/demo/"},
        {nullptr, nullptr, nullptr, nullptr, "/d", "/d/Quillmoor/demo/"},
        {nullptr, nullptr, nullptr, nullptr, nullptr, "/tmp/Quillmoor/demo/"},
    };
    for (const auto &c : cases) {
        auto set = [](const char *name, const char *value) {
            if (value) setenv(name, value, 1);
            else unsetenv(name);
        };
        set("APPDATA", c.appdata);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        set("TEMP", c.temp);
        set("TMPDIR", c.tmpdir);
        EXPECT_EQ(store.DataFolder(), c.expected);
    }
    EXPECT_TRUE(fs::is_empty(appdata.path())) << "DataFolder creates nothing";
}

TEST_F(Store, InvalidWritesAreRefusedAndChangeNothing) {
    SettingsStore store(dir);
    std::string before = ReadFile(dir + "start.ini");
    struct Case {
        const char *key;
        std::string value, error;
    } cases[] = {
        {"nodot", "v", "Invalid settings key \"nodot\""},
        {"proxy.", "v", "Invalid settings key \"proxy.\""},
        {".host", "v", "Invalid settings key \".host\""},
        {"pro]xy.host", "v", "Invalid settings key \"pro]xy.host\""},
        {"proxy.ho=st", "v", "Invalid settings key \"proxy.ho=st\""},
        {"proxy.[host", "v", "Invalid settings key \"proxy.[host\""},
        {"proxy.host", "a\nb=c", "Invalid value for settings key \"proxy.host\": line breaks are not allowed"},
        {"proxy.host", "a\rb", "Invalid value for settings key \"proxy.host\": line breaks are not allowed"},
        {"proxy.host", std::string("a\0b", 3), "Invalid value for settings key \"proxy.host\": line breaks are not allowed"},
    };
    for (const auto &c : cases) {
        try {
            store.WriteSetting(c.key, c.value);
            ADD_FAILURE() << c.key;
        } catch (const StarterError &e) {
            EXPECT_EQ(e.what(), c.error);
        }
    }
    EXPECT_EQ(ReadFile(dir + "start.ini"), before);
    EXPECT_FALSE(store.PerUserFile().has_value());
}

TEST_F(Store, LongValuesAreStoredWholeAndReadCut) {
    SettingsStore store(dir);
    std::string value(3000, 'v');
    store.WriteSetting("application.title", value);
    EXPECT_EQ(store.ReadSetting("application.title"), std::string(2047, 'v'));
    EXPECT_NE(ReadFile(dir + "start.ini").find(value), std::string::npos);
}

TEST_F(Store, ProcessStoreMustBeOpenedFirst) {
    EXPECT_THROW(Settings(), std::logic_error);
    OpenSettings(dir);
    WriteSetting("versions.current", "2.0");
    EXPECT_EQ(ReadSetting("versions.current"), "2.0");
    EXPECT_EQ(VersionDirectory("2.0"), dir + "VERSIONS/2.0/");
    EXPECT_EQ(DataFolder(), appdata.path() + "/Quillmoor//");
}

TEST_F(Store, ThreadsOfOneProcessLoseNoWrite) {
    SettingsStore store(dir);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 10; ++i) store.WriteSetting("t" + std::to_string(t) + ".k" + std::to_string(i), "v");
        });
    for (auto &thread : threads) thread.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i) EXPECT_EQ(store.ReadSetting("t" + std::to_string(t) + ".k" + std::to_string(i)), "v");
}
