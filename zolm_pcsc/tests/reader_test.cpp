// Listing, opening, sending and closing against a scripted PC/SC: results, undo order, outputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "common/result.h"
#include "zolm_pcsc/reader.h"
#include "zolm_pcsc/tests/fake_pcsc.h"

namespace zolm::pcsc::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

// The error text of work, as an export would return it ("" for success).
template <typename Work>
std::string ErrorOf(Work &&work) {
    char *text = ResultOf(std::forward<Work>(work));
    if (text == nullptr) return "";
    std::string copy = text;
    ReleaseBlock(text, copy.size() + 1);
    return copy;
}

// ---- listing ----

TEST(ListReaders, NoServiceOrNoReaderIsAnEmptyList) {
    for (LONG code : {SCARD_E_NO_SERVICE, SCARD_E_NO_READERS_AVAILABLE}) {
        FakePcsc pcsc;
        pcsc.establishResult = code;
        char *list = reinterpret_cast<char *>(1);
        EXPECT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), "");
        EXPECT_EQ(list, nullptr);
        EXPECT_THAT(pcsc.calls, ElementsAre("EstablishContext"));
    }
}

TEST(ListReaders, NoReaderAtTheSizeQueryIsAnEmptyList) {
    FakePcsc pcsc;
    pcsc.listSizeResult = SCARD_E_NO_READERS_AVAILABLE;
    char *list = reinterpret_cast<char *>(1);
    EXPECT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), "");
    EXPECT_EQ(list, nullptr);
    EXPECT_THAT(pcsc.calls, ElementsAre("EstablishContext", "ListReaders(size)", "ReleaseContext"));
}

TEST(ListReaders, FailuresNameTheCallAndReleaseTheContext) {
    struct Case {
        LONG establish, size, list;
        const char *text;
        std::vector<std::string> calls;
    } cases[] = {
        {SCARD_E_NO_MEMORY, 0, 0, "SCardEstablishContext() failed: Not enough memory available to complete this command",
         {"EstablishContext"}},
        {0, SCARD_E_INVALID_HANDLE, 0, "SCardListReaders() failed: The supplied handle was not valid",
         {"EstablishContext", "ListReaders(size)", "ReleaseContext"}},
        {0, 0, SCARD_E_SERVICE_STOPPED, "SCardListReaders() failed: The smart card resource manager has shut down",
         {"EstablishContext", "ListReaders(size)", "ListReaders", "ReleaseContext"}},
        {0, 0, static_cast<LONG>(0x80100030), "SCardListReaders() failed: Smart card error 0x80100030",
         {"EstablishContext", "ListReaders(size)", "ListReaders", "ReleaseContext"}},
    };
    for (const Case &c : cases) {
        FakePcsc pcsc;
        pcsc.readers = std::string("Reader A\0\0", 10);
        pcsc.establishResult = c.establish;
        pcsc.listSizeResult = c.size;
        pcsc.listResult = c.list;
        char *list = reinterpret_cast<char *>(1);
        EXPECT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), c.text);
        EXPECT_EQ(list, nullptr);
        EXPECT_EQ(pcsc.calls, c.calls) << c.text;
    }
}

TEST(ListReaders, HandsOutTheMultiString) {
    FakePcsc pcsc;
    const std::string names("Reader A 00 00\0Reader B 01 00\0\0", 31);
    pcsc.readers = names;
    char *list = nullptr;
    ASSERT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), "");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(std::string(list, names.size()), names);
    EXPECT_THAT(pcsc.calls, ElementsAre("EstablishContext", "ListReaders(size)", "ListReaders", "ReleaseContext"));
    ReleaseBlock(list, names.size());
}

TEST(ListReaders, ReaderPluggedInDuringListingIsListedToo) {
    FakePcsc pcsc;
    pcsc.readers = std::string("A\0\0", 3);
    bool plugged = false;
    pcsc.afterSizeQuery = [&] {
        if (!plugged) pcsc.readers = std::string("A\0Second\0\0", 10);
        plugged = true;
    };
    char *list = nullptr;
    ASSERT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), "");
    EXPECT_EQ(std::string(list, 10), std::string("A\0Second\0\0", 10));
    ReleaseBlock(list, 10);
}

TEST(ListReaders, ListWithoutFinalDoubleNulIsTerminated) {
    FakePcsc pcsc;
    pcsc.readers = std::string("Reader A", 8);
    char *list = nullptr;
    ASSERT_EQ(ErrorOf([&] { ListReaders(pcsc, &list); }), "");
    EXPECT_EQ(std::string(list, 10), std::string("Reader A\0\0", 10));
    ReleaseBlock(list, 10);
}

// ---- opening ----

constexpr uintptr_t kUntouched = 0xDEAD;

struct OpenOutcome {
    std::string error;
    ReaderHandle *handle = reinterpret_cast<ReaderHandle *>(kUntouched);
    uint8_t atr[40] = {};
    uint32_t atrLength = 40;
};

OpenOutcome Open(FakePcsc &pcsc, uint32_t atrSize = 40) {
    OpenOutcome out;
    out.atrLength = atrSize;
    out.error = ErrorOf([&] { OpenReader(pcsc, "Reader A", &out.handle, out.atr, &out.atrLength); });
    return out;
}

TEST(OpenReader, ConnectsSharedAndReturnsTheAtr) {
    FakePcsc pcsc;
    OpenOutcome out = Open(pcsc);
    ASSERT_EQ(out.error, "");
    EXPECT_EQ(out.atrLength, 4u);
    EXPECT_EQ(HexText(out.atr, out.atrLength), "3B021450");
    EXPECT_THAT(pcsc.calls, ElementsAre("EstablishContext", "Connect(Reader A)", "Status"));
    EXPECT_EQ(out.handle->activeProtocol, static_cast<uint32_t>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(ErrorOf([&] { CloseReader(out.handle); }), "");
}

TEST(OpenReader, FailureUndoesInReverseOrderAndStoresNothing) {
    struct Case {
        const char *name;
        void (*script)(FakePcsc &);
        uint32_t atrSize;
        const char *text;  // a regular expression
        std::vector<std::string> calls;
    } cases[] = {
        {"context", [](FakePcsc &p) { p.establishResult = SCARD_E_NO_SERVICE; }, 40,
         "SCardEstablishContext\\(\\) failed: The smart card resource manager is not running", {"EstablishContext"}},
        {"connect", [](FakePcsc &p) { p.connectResult = SCARD_E_UNKNOWN_READER; }, 40,
         "SCardConnect\\(\\) failed: The specified reader name is not recognized",
         {"EstablishContext", "Connect(Reader A)", "ReleaseContext"}},
        {"atr buffer too small", [](FakePcsc &) {}, 3,
         "SCardStatus\\(\\) failed: The data buffer for returned data is too small for the returned data",
         {"EstablishContext", "Connect(Reader A)", "Status", "Disconnect(leave)", "ReleaseContext"}},
        {"status", [](FakePcsc &p) { p.statusResult = SCARD_W_REMOVED_CARD; }, 40,
         "SCardStatus\\(\\) failed: The smart card has been removed, so further communication is not possible",
         {"EstablishContext", "Connect(Reader A)", "Status", "Disconnect(leave)", "ReleaseContext"}},
        {"protocol changed", [](FakePcsc &p) { p.statusProtocol = SCARD_PROTOCOL_T1; }, 40,
         "assertion failed in reader\\.cpp:[0-9]+",
         {"EstablishContext", "Connect(Reader A)", "Status", "Disconnect(leave)", "ReleaseContext"}},
    };
    for (const Case &c : cases) {
        FakePcsc pcsc;
        c.script(pcsc);
        OpenOutcome out = Open(pcsc, c.atrSize);
        EXPECT_THAT(out.error, MatchesRegex(c.text)) << c.name;
        EXPECT_EQ(pcsc.calls, c.calls) << c.name;
        EXPECT_EQ(out.handle, reinterpret_cast<ReaderHandle *>(kUntouched)) << c.name;
        EXPECT_EQ(out.atrLength, c.atrSize) << c.name;
    }
}

TEST(OpenReader, NullOutputsAreRefused) {
    FakePcsc pcsc;
    uint8_t atr[40];
    uint32_t atrLength = sizeof atr;
    ReaderHandle *handle = nullptr;
    EXPECT_EQ(ErrorOf([&] { OpenReader(pcsc, "Reader A", nullptr, atr, &atrLength); }),
              "invalid argument: handle is null");
    EXPECT_EQ(ErrorOf([&] { OpenReader(pcsc, "Reader A", &handle, nullptr, &atrLength); }),
              "invalid argument: atr is null");
    EXPECT_EQ(ErrorOf([&] { OpenReader(pcsc, "Reader A", &handle, atr, nullptr); }),
              "invalid argument: atrLength is null");
    EXPECT_TRUE(pcsc.calls.empty());
}

// ---- sending ----

class OpenCard : public ::testing::Test {
protected:
    void SetUp() override {
        OpenOutcome out = Open(pcsc);
        ASSERT_EQ(out.error, "");
        handle = out.handle;
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(ErrorOf([&] { CloseReader(handle); }), "");
        }
    }
    FakePcsc pcsc;
    ReaderHandle *handle = nullptr;
};

TEST_F(OpenCard, ResponseIsANewBlock) {
    pcsc.Answer("6102");
    pcsc.Answer("AABB9000");
    const uint8_t command[] = {0x00, 0xB0, 0x00, 0x00, 0x02};
    uint8_t *response = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ErrorOf([&] { SendCommand(handle, command, sizeof command, 2, &response, &length); }), "");
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(HexText(response, length), "AABB9000");
    ReleaseBlock(response, length);
}

TEST_F(OpenCard, AfterAnyFailureResponseIsNullAndLengthZero) {
    const uint8_t command[] = {0x00, 0xA4, 0x00, 0x00};
    auto failWith = [&](std::function<void()> script, const char *text) {
        pcsc.replies.clear();
        pcsc.card = nullptr;
        script();
        uint8_t *response = reinterpret_cast<uint8_t *>(kUntouched);
        uint32_t length = 77;
        EXPECT_EQ(ErrorOf([&] { SendCommand(handle, command, sizeof command, 1, &response, &length); }), text);
        EXPECT_EQ(response, nullptr) << text;
        EXPECT_EQ(length, 0u) << text;
    };
    failWith([&] { pcsc.replies.push_back({SCARD_E_NOT_TRANSACTED, {}}); },
             "SCardTransmit() failed: An attempt was made to end a nonexistent transaction");
    failWith([&] { pcsc.card = [](const Bytes &) { return FakePcsc::Reply{0, HexBytes("6100")}; }; },
             "GET RESPONSE chain exceeds 1024 rounds");
}

TEST_F(OpenCard, BadArgumentsAreRefused) {
    uint8_t *response = nullptr;
    uint32_t length = 0;
    const uint8_t command[] = {0x00, 0xA4, 0x00, 0x00};
    EXPECT_EQ(ErrorOf([&] { SendCommand(nullptr, command, 4, 1, &response, &length); }),
              "invalid argument: handle is null");
    EXPECT_EQ(ErrorOf([&] { SendCommand(handle, nullptr, 4, 1, &response, &length); }),
              "invalid argument: command is null");
    EXPECT_EQ(ErrorOf([&] { SendCommand(handle, command, 4, 1, nullptr, &length); }),
              "invalid argument: response is null");
    EXPECT_EQ(ErrorOf([&] { SendCommand(handle, command, 4, 1, &response, nullptr); }),
              "invalid argument: responseLength is null");
    EXPECT_TRUE(pcsc.sent.empty());
}

// ---- closing ----

TEST(CloseReader, FreesTheRecordOnEveryPath) {
    struct Case {
        LONG disconnect, release;
        const char *text;
        std::vector<std::string> calls;
    } cases[] = {
        {0, 0, "", {"Disconnect(leave)", "ReleaseContext"}},
        {SCARD_E_INVALID_HANDLE, 0, "SCardDisconnect() failed: The supplied handle was not valid",
         {"Disconnect(leave)", "ReleaseContext"}},
        {0, SCARD_E_INVALID_HANDLE, "SCardReleaseContext() failed: The supplied handle was not valid",
         {"Disconnect(leave)", "ReleaseContext"}},
        {SCARD_E_NO_SERVICE, SCARD_E_NO_SERVICE, "SCardDisconnect() failed: The smart card resource manager is not running",
         {"Disconnect(leave)", "ReleaseContext"}},
    };
    for (const Case &c : cases) {
        FakePcsc pcsc;
        OpenOutcome out = Open(pcsc);
        ASSERT_EQ(out.error, "");
        pcsc.calls.clear();
        pcsc.disconnectResult = c.disconnect;
        pcsc.releaseResult = c.release;
        // The sanitizer build reports the record if any path forgets to free it.
        EXPECT_EQ(ErrorOf([&] { CloseReader(out.handle); }), c.text);
        EXPECT_EQ(pcsc.calls, c.calls) << c.text;
    }
    EXPECT_EQ(ErrorOf([&] { CloseReader(nullptr); }), "invalid argument: handle is null");
}

}  // namespace
}  // namespace zolm::pcsc::testing
