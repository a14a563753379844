// Key-medium operations against the test host: call orders, texts in both languages, blocks given
// back, and hosts that fail, hand out null texts or lack functions.
#include "common/key_medium.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "common/formatted_exception.h"
#include "common/host.h"
#include "testing/shared_data_fixture.h"
#include "testing/test_host.h"

// Set by a test: the next operator new of exactly this size throws std::bad_alloc (allocation_failure.cpp).
namespace zolm::testing {
extern size_t g_failAllocationOfSize;
}
using zolm::testing::g_failAllocationOfSize;

namespace {

using zolm::testing::TestHost;
using Strings = std::vector<std::string>;

class KeyMedium : public ::testing::Test {
protected:
    void SetUp() override { zolm::SetHost(host.Table()); }
    void TearDown() override {
        zolm::SetHost(nullptr);
        EXPECT_EQ(host.BlockProblems(), Strings{});
    }
    // The text that `operation` raises.
    static std::string ErrorOf(const std::function<void()> &operation) {
        try {
            operation();
        } catch (const std::exception &e) {
            return e.what();
        }
        return "(no error)";
    }
    void UseEnglish() { block.emplace(zolm::host::SharedDataBlock::Create(name.Name(), 1)); }
    // No block at all: a fresh process would find none.
    void UseRussian() {
        block.reset();
        zolm::host::SharedDataBlock::Remove(name.Name());
        zolm::ForgetSharedDataView();
    }

    zolm::testing::PrivateSharedDataName name;
    std::optional<zolm::host::SharedDataBlock> block;
    TestHost host;
};

struct FailureCase {
    const char *label;
    const char *fail;      // host function made to fail
    const char *fileName;  // the file name the failure is tied to, "" for any call
    bool keyDerPresent;
    std::function<void()> operation;
    const char *russian;
    const char *english;
};

std::vector<FailureCase> FailureCases() {
    return {
        {"read", "readFile", "cert.pem", false, [] { zolm::ReadFile(1, "cert.pem"); },
         "ошибка при чтении файла cert.pem", "error reading file cert.pem"},
        {"write", "writeFile", "req.pem", false, [] { zolm::WriteFile(1, "req.pem", "x", 1); },
         "ошибка при записи файла req.pem", "error writing file req.pem"},
        {"delete", "deleteFile", "key.der", true, [] { zolm::DeleteFileIfPresent(1, "key.der"); },
         "ошибка при удалении файла key.der", "Error deleting file key.der"},
        {"rename", "renameFile", "keyn.der", false, [] { zolm::RenameFile(1, "keyn.der", "key.der"); },
         "ошибка при переименовании файла keyn.der в key.der", "error renaming file keyn.der to key.der"},
        {"exists", "fileExists", "mk.db3", false, [] { zolm::FileExists(1, "mk.db3"); },
         "ошибка при определении наличия файла mk.db3", "error testing the existance of the file mk.db3"},
        {"read if present", "fileExists", "cert.pem", false, [] { zolm::ReadFileIfPresent(1, "cert.pem"); },
         "ошибка при определении наличия файла cert.pem", "error testing the existance of the file cert.pem"},
        {"serial number", "getSerialNumber", "", false, [] { zolm::SerialNumber(1); },
         "ошибка при получении серийного номера ключевого носителя",
         "error reading the serial number of the key media"},
        {"path", "getPath", "", false, [] { zolm::MediumPath(1); }, "ошибка при получении каталога ключевого носителя",
         "error reading the path of the key media"},
        {"path given back", "medium.releaseMemory", "", false, [] { zolm::MediumPath(1); },
         "ошибка освобождения памяти", "error releasing memory"},
        {"write after asking", "writeFile", "key.der", true,
         [] { zolm::WriteFileAfterAsking(1, "key.der", *CMemoryBuffer::Create("k", 1)); },
         "ошибка при записи файла key.der", "error writing file key.der"},
    };
}

TEST_F(KeyMedium, HostFailuresRaiseTheTableTextInBothLanguages) {
    for (const auto &c : FailureCases()) {
        for (bool english : {false, true}) {
            english ? UseEnglish() : UseRussian();
            host.ClearFailures();
            host.Fail(c.fail, c.fileName);
            if (c.keyDerPresent) host.PutFile(1, "key.der", "old");
            host.AnswerConfirm({true});
            EXPECT_EQ(ErrorOf(c.operation), english ? c.english : c.russian) << c.label;
        }
    }
}

TEST_F(KeyMedium, OperationsCallTheHostInOrderAndGiveEveryBlockBack) {
    host.PutFile(1, "cert.pem", "CERT");
    host.SetSerialNumber(1, "0123-ABCD");
    host.SetParameter("no_key_callback", "1");

    EXPECT_EQ(zolm::MediumPath(1), host.Folder(1).string() + "/");
    EXPECT_EQ(host.Calls().back().args, (Strings{"1", std::to_string(host.Folder(1).string().size() + 2)}));
    EXPECT_EQ(zolm::SerialNumber(1), "0123-ABCD");
    EXPECT_EQ(host.Calls().back().args, (Strings{"1", "10"}));
    EXPECT_EQ(zolm::HostParameter(1, "no_key_callback"), "1");
    EXPECT_EQ(host.Calls().back().args, (Strings{"1", "2"}));
    EXPECT_EQ(zolm::HostParameter(1, "unknown"), "");
    auto cert = zolm::ReadFile(1, "cert.pem");
    EXPECT_EQ(std::string(cert->TerminatedView()), "CERT");
    EXPECT_EQ(host.Calls().back().args, (Strings{"1", "4"}));
    EXPECT_TRUE(zolm::FileExists(1, "cert.pem"));
    EXPECT_FALSE(zolm::FileExists(2, "cert.pem"));
    zolm::WriteFile(2, "req.pem", *CMemoryBuffer::Create("REQ", 3));
    zolm::RenameFile(2, "req.pem", "req2.pem");

    EXPECT_EQ(host.Functions(),
              (Strings{"getPath", "medium.releaseMemory", "getSerialNumber", "general.releaseMemory", "getParameter",
                       "general.releaseMemory", "getParameter", "general.releaseMemory", "readFile",
                       "general.releaseMemory", "fileExists", "fileExists", "writeFile", "renameFile"}));
    EXPECT_EQ(host.FileBytes(2, "req2.pem"), "REQ");
    EXPECT_FALSE(host.HasFile(2, "req.pem"));
}

TEST_F(KeyMedium, EmptyFileReadsAsEmptyBuffer) {
    host.PutFile(1, "rand.opq", "");
    EXPECT_EQ(zolm::ReadFile(1, "rand.opq")->Length(), 0u);
}

TEST_F(KeyMedium, ReadIfPresent) {
    EXPECT_EQ(zolm::ReadFileIfPresent(1, "cert.pem"), nullptr);
    EXPECT_EQ(host.Functions(), Strings{"fileExists"});
    host.PutFile(1, "cert.pem", "C");
    EXPECT_EQ(zolm::ReadFileIfPresent(1, "cert.pem")->Length(), 1u);
}

TEST_F(KeyMedium, DeleteIfPresentDeletesOnlyWhatExists) {
    zolm::DeleteFileIfPresent(1, "key.der");
    EXPECT_EQ(host.Functions(), Strings{"fileExists"});
    host.PutFile(1, "key.der", "K");
    zolm::DeleteFileIfPresent(1, "key.der");
    EXPECT_EQ(host.Count("deleteFile"), 1u);
    EXPECT_FALSE(host.HasFile(1, "key.der"));
}

TEST_F(KeyMedium, WriteAfterAsking) {
    auto data = CMemoryBuffer::Create("NEW", 3);
    // Absent: written without a question.
    EXPECT_TRUE(zolm::WriteFileAfterAsking(2, "key.der", *data));
    EXPECT_EQ(host.Count("confirm"), 0u);

    // Present, answer no: nothing written, no error.
    host.PutFile(1, "key.der", "OLD");
    host.AnswerConfirm({false, true});
    EXPECT_FALSE(zolm::WriteFileAfterAsking(1, "key.der", *data));
    EXPECT_EQ(host.FileBytes(1, "key.der"), "OLD");
    EXPECT_EQ(host.Count("writeFile"), 1u);
    EXPECT_EQ(host.Questions().back(), "Файл key.der уже существует в копии, заменить его ?");

    // Present, answer yes (in English this time).
    UseEnglish();
    EXPECT_TRUE(zolm::WriteFileAfterAsking(1, "key.der", *data));
    EXPECT_EQ(host.FileBytes(1, "key.der"), "NEW");
    EXPECT_EQ(host.Questions().back(), "The file key.der already exist in a copy, replace it ?");
}

TEST_F(KeyMedium, NullTextsFromTheHostAreErrors) {
    struct Case {
        const char *function;
        std::function<void()> operation;
        const char *text;
    } cases[] = {
        {"getPath", [] { zolm::MediumPath(1); }, "ошибка при получении каталога ключевого носителя"},
        {"getSerialNumber", [] { zolm::SerialNumber(1); }, "ошибка при получении серийного номера ключевого носителя"},
        {"readFile", [] { zolm::ReadFile(1, "key.der"); }, "ошибка при чтении файла key.der"},
        {"getParameter", [] { zolm::HostParameter(1, "no_key_callback"); },
         "the host returned no text for the parameter no_key_callback"},
    };
    for (const auto &c : cases) {
        host.ClearFailures();
        host.GiveNull(c.function);
        EXPECT_EQ(ErrorOf(c.operation), c.text) << c.function;
    }
    EXPECT_EQ(host.Count("general.releaseMemory") + host.Count("medium.releaseMemory"), 0u);
}

TEST_F(KeyMedium, MissingHostFunctionsAreNamed) {
    HostTable &table = *host.Table();
    struct Case {
        const char *label;
        std::function<void()> remove;
        std::function<void()> operation;
        const char *text;
    } cases[] = {
        {"getPath", [&] { host.Medium().getPath = nullptr; }, [] { zolm::MediumPath(1); },
         "the host table has no medium.getPath function"},
        {"medium release", [&] { host.Medium().releaseMemory = nullptr; }, [] { zolm::MediumPath(1); },
         "the host table has no medium.releaseMemory function"},
        {"general release", [&] { host.General().releaseMemory = nullptr; }, [] { zolm::ReadFile(1, "a"); },
         "the host table has no general.releaseMemory function"},
        {"confirm", [&] { host.General().confirm = nullptr; },
         [] { zolm::WriteFileAfterAsking(1, "key.der", *CMemoryBuffer::Create()); },
         "the host table has no general.confirm function"},
        {"medium group", [&] { table.medium = nullptr; }, [] { zolm::FileExists(1, "a"); },
         "the host table has no medium function"},
        {"parameters group", [&] { table.parameters = nullptr; }, [] { zolm::HostParameter(1, "a"); },
         "the host table has no parameters function"},
    };
    host.PutFile(1, "key.der", "K");
    for (const auto &c : cases) {
        HostGeneral general = host.General();
        HostMedium medium = host.Medium();
        HostTable saved = table;
        c.remove();
        EXPECT_EQ(ErrorOf(c.operation), c.text) << c.label;
        host.General() = general;
        host.Medium() = medium;
        table = saved;
    }
    // Nothing was handed out that could not be given back.
    EXPECT_EQ(host.Count("getPath") + host.Count("readFile"), 0u);
}

TEST_F(KeyMedium, WithoutHostTable) {
    zolm::SetHost(nullptr);
    EXPECT_EQ(ErrorOf([] { zolm::FileExists(1, "a"); }), "the host table is not set: cp_Init was not called with one");
}

TEST_F(KeyMedium, BlocksGoBackWhenCopyingFails) {
    // A 100000-byte file needs a buffer of 100352 bytes.
    host.PutFile(1, "big.bin", std::string(100000, 'b'));
    g_failAllocationOfSize = 100352;
    EXPECT_THROW(zolm::ReadFile(1, "big.bin"), std::bad_alloc);
    EXPECT_EQ(host.Count("general.releaseMemory"), 1u);

    // A path text of 3000 characters needs a string block of 3001 bytes in the plug-in's copy.
    std::string folder = "/nonexistent/" + std::string(2986, 'p');
    host.AddMedium(3, folder);
    g_failAllocationOfSize = 3001;
    EXPECT_THROW(zolm::MediumPath(3), std::bad_alloc);
    EXPECT_EQ(host.Count("medium.releaseMemory"), 1u);
    g_failAllocationOfSize = 0;
}

}  // namespace
