// The probe plug-in loaded in process over the test host: the pattern of every plug-in test. Shows
// the host calls a plug-in makes through the framework, and the ABI's handling of bad arguments.
#include <gtest/gtest.h>

#include <cstring>

#include "testing/shared_data_fixture.h"
#include "testing/test_host.h"
#include "tools/host/plugin.h"

namespace {

using Strings = std::vector<std::string>;

class ProbeProvider : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Error(plugin.Init(host.Table(), "")), ""); }
    void TearDown() override {
        plugin.Done();
        EXPECT_EQ(host.BlockProblems(), Strings{});
    }
    // The error text of a call, given back with cp_ReleaseMemory; "" for success.
    std::string Error(char *result) { return plugin.TakeResult(result); }

    zolm::testing::PrivateSharedDataName name;
    zolm::testing::TestHost host;
    // Loaded afresh for each test, so the plug-in's process-wide state (host table, a held view of the
    // shared data block) starts empty, as in a new process.
    zolm::host::Plugin plugin{PROBE_PROVIDER_PATH};
};

TEST_F(ProbeProvider, GenerateKeyGoesThroughTheHostTable) {
    host.GiveKeys("abcd");
    EXPECT_EQ(Error(plugin.GenerateKey(1, "pw", "1.2.643.2.2.35.1", "1.2.643.7.1.1.1.1")), "");
    EXPECT_EQ(host.Functions(), (Strings{"getParameter", "general.releaseMemory", "keyPress", "keyPress", "keyPress",
                                         "keyPress", "getPath", "medium.releaseMemory", "fileExists", "writeFile"}));
    EXPECT_EQ(host.Calls()[2].args, (Strings{"1", "115", "0", "40"}));  // 's' of "seed", 40
    EXPECT_NE(host.FileBytes(1, "keyn.der").find("seed=abcd\n"), std::string::npos);

    // A second key: the host is asked first, and a "no" keeps the pending key.
    EXPECT_EQ(Error(plugin.GenerateKey(1, "pw2", "", "")), "the existing pending key was kept");
    EXPECT_EQ(host.Questions(), Strings{"Файл keyn.der уже существует в копии, заменить его ?"});
}

TEST_F(ProbeProvider, HostFailureTextsCrossTheAbiInTheBlocksLanguage) {
    host.Fail("writeFile", "keyn.der");
    EXPECT_EQ(Error(plugin.GenerateKey(1, "pw", "", "")), "ошибка при записи файла keyn.der");
    auto block = zolm::host::SharedDataBlock::Create(name.Name(), 1);
    EXPECT_EQ(Error(plugin.GenerateKey(1, "pw", "", "")), "error writing file keyn.der");
}

TEST_F(ProbeProvider, BadArgumentsGetTextsAndNothingIsWritten) {
    EXPECT_EQ(Error(plugin.Init(nullptr, "")), "cp_Init was called without a host table");
    ASSERT_EQ(Error(plugin.Init(host.Table(), "")), "");
    int32_t flag = 7;
    EXPECT_EQ(Error(plugin.CheckPassword(1, "pw", nullptr)), "cp_CheckPassword: no place was given for the result");
    // The common behaviour: nothing is written through a null flag, and the call still succeeds.
    EXPECT_EQ(Error(plugin.StoreCertificate(1, 0, 0, nullptr)), "");
    EXPECT_EQ(Error(plugin.StoreCertificate(123, 4, 5, &flag)), "");
    EXPECT_EQ(flag, 1);
    void *signature = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(Error(plugin.SignData(1, "pw", "x", 1, 0, &signature, &length, nullptr)),
              "cp_SignData: no place was given for the result");
    EXPECT_EQ(signature, nullptr);
}

TEST_F(ProbeProvider, SignatureAndInfoAreBlocksOfThePlugin) {
    ASSERT_EQ(Error(plugin.GenerateKey(1, "pw", "", "")), "");
    ASSERT_EQ(Error(plugin.ActivateKey(1)), "");
    void *signature = nullptr;
    uint32_t length = 0;
    char *info = nullptr;
    ASSERT_EQ(Error(plugin.SignData(1, "pw", "data", 4, 0, &signature, &length, &info)), "");
    EXPECT_EQ(std::string(static_cast<char *>(signature), length).rfind("PROBE SIGNATURE ", 0), 0u);
    EXPECT_STREQ(info, "");
    plugin.ReleaseMemory(signature, length);
    plugin.ReleaseMemory(info, 1);
}

}  // namespace
