// zolm_pcsc.so against a real pcscd: vsmartcard's vpcd reader driver with the project's virtual card,
// which answers scripted status words and records what reached it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "zolm/pcsc.h"
#include "zolm_pcsc/testing/test_pcscd.h"
#include "zolm_pcsc/testing/virtual_card.h"

namespace zolm::pcsc::testing {
namespace {

using ::testing::ElementsAre;

// ATRs without interface bytes default to T=0; TD1 = 01 announces T=1 only (TCK 81 then required).
const char kT0Atr[] = "3B021450";
const char kT1Atr[] = "3B800181";
const std::string kVpcdReaders("Virtual PCD 00 00\0Virtual PCD 00 01\0\0", 37);

// An export's result as text ("" for success); the block goes back through the library.
std::string Text(char *result) {
    if (result == nullptr) return "";
    std::string text = result;
    pcsc_ReleaseMemory(result, static_cast<uint32_t>(text.size() + 1));
    return text;
}

std::string ListedReaders() {
    char *list = reinterpret_cast<char *>(1);
    std::string error = Text(pcsc_ListReaders(&list));
    EXPECT_EQ(error, "");
    if (list == nullptr) return "(none)";
    size_t length = 0;
    while (list[length] != '\0' || list[length + 1] != '\0') ++length;
    std::string names(list, length + 2);
    pcsc_ReleaseMemory(list, static_cast<uint32_t>(names.size()));
    return names;
}

class PcscIntegration : public ::testing::Test {
protected:
    void SetUp() override { TestPcscd::SocketPath(); }

    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(Text(pcsc_CloseReader(handle_)), "");
        }
        card_.reset();
        daemon_.Stop();
    }

    // A daemon with vpcd's reader and, in it, a card with this ATR answering in order.
    void InsertCardWith(const char *atr, VirtualCard::Handler handler) {
        ASSERT_NO_THROW(daemon_.Start(true));
        card_ = std::make_unique<VirtualCard>(HexBytes(atr), std::move(handler));
        ASSERT_TRUE(card_->Insert(daemon_.VpcdPort()));
        ASSERT_TRUE(TestPcscd::WaitForCard(TestPcscd::kVpcdReader, true));
    }
    void InsertCard(const char *atr, std::vector<std::string> answers) {
        InsertCardWith(atr, VirtualCard::Script(std::move(answers)));
    }

    void Open() {
        uint8_t atr[40];
        uint32_t atrLength = sizeof atr;
        ASSERT_EQ(Text(pcsc_OpenReader(TestPcscd::kVpcdReader, &handle_, atr, &atrLength)), "");
        ASSERT_NE(handle_, nullptr);
    }

    // Sends command (hex) and returns the response as hex, or "error: <text>".
    std::string Send(const char *command, int32_t apduCase) {
        Bytes bytes = HexBytes(command);
        uint8_t *response = reinterpret_cast<uint8_t *>(1);
        uint32_t length = 99;
        std::string error = Text(pcsc_SendCommand(handle_, bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                  apduCase, &response, &length));
        if (!error.empty()) {
            EXPECT_EQ(response, nullptr);
            EXPECT_EQ(length, 0u);
            return "error: " + error;
        }
        std::string hex = HexText(response, length);
        pcsc_ReleaseMemory(response, length);
        return hex;
    }

    TestPcscd daemon_;
    std::unique_ptr<VirtualCard> card_;
    ReaderHandle *handle_ = nullptr;
};

TEST_F(PcscIntegration, NoServiceIsAnEmptyListButNoConnection) {
    EXPECT_EQ(ListedReaders(), "(none)");
    uint8_t atr[40];
    uint32_t atrLength = sizeof atr;
    EXPECT_EQ(Text(pcsc_OpenReader(TestPcscd::kVpcdReader, &handle_, atr, &atrLength)),
              "SCardEstablishContext() failed: The smart card resource manager is not running");
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(atrLength, sizeof atr);
}

TEST_F(PcscIntegration, NoReaderIsAnEmptyListButNoConnection) {
    ASSERT_NO_THROW(daemon_.Start(false));
    EXPECT_EQ(ListedReaders(), "(none)");
    uint8_t atr[40];
    uint32_t atrLength = sizeof atr;
    EXPECT_EQ(Text(pcsc_OpenReader(TestPcscd::kVpcdReader, &handle_, atr, &atrLength)),
              "SCardConnect() failed: The specified reader name is not recognized");
    EXPECT_EQ(handle_, nullptr);
}

TEST_F(PcscIntegration, ListsReadersAndOpensWithTheAtr) {
    InsertCard(kT0Atr, {"9000"});
    EXPECT_EQ(ListedReaders(), kVpcdReaders);

    uint8_t atr[40] = {};
    uint32_t atrLength = sizeof atr;
    ASSERT_EQ(Text(pcsc_OpenReader(TestPcscd::kVpcdReader, &handle_, atr, &atrLength)), "");
    EXPECT_EQ(HexText(atr, atrLength), kT0Atr);
}

TEST_F(PcscIntegration, AtrBufferTooSmallOpensNothing) {
    InsertCard(kT0Atr, {});
    uint8_t atr[3];
    uint32_t atrLength = sizeof atr;
    EXPECT_EQ(Text(pcsc_OpenReader(TestPcscd::kVpcdReader, &handle_, atr, &atrLength)),
              "SCardStatus() failed: The data buffer for returned data is too small for the returned data");
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(atrLength, 3u);
}

TEST_F(PcscIntegration, T0Case1GetsP3OnlyWhenMissing) {
    InsertCard(kT0Atr, {"9000", "9000"});
    Open();
    EXPECT_EQ(Send("00A40000", 1), "9000");
    EXPECT_EQ(Send("00A4000000", 1), "9000");
    EXPECT_THAT(card_->Received(), ElementsAre("00A4000000", "00A4000000"));
}

TEST_F(PcscIntegration, T0Case2DropsLeThenRepeatsWithTheCardsLength) {
    InsertCard(kT0Atr, {"6C03", "0102036282"});
    Open();
    EXPECT_EQ(Send("00B0000010", 2), "0102036282");
    EXPECT_THAT(card_->Received(), ElementsAre("00B00000", "00B0000003"));
}

TEST_F(PcscIntegration, T0ChainIsAssembledInOrderWithTheLastStatusWord) {
    InsertCard(kT0Atr, {"6102", "AABB6103", "CCDDEE9000"});
    Open();
    EXPECT_EQ(Send("80CA00000100", 4), "AABBCCDDEE9000");
    EXPECT_THAT(card_->Received(), ElementsAre("80CA000001", "00C0000002", "00C0000003"));
}

// A broken card that answers every GET RESPONSE with 61xx again: the caller gets an error, not a hang.
TEST_F(PcscIntegration, T0EndlessChainEndsWithAnError) {
    InsertCardWith(kT0Atr, [](const Bytes &) { return HexBytes("AA6101"); });
    Open();
    EXPECT_EQ(Send("00B0000000", 2), "error: GET RESPONSE chain exceeds 1024 rounds");
    EXPECT_EQ(card_->Received().size(), 1u + 1024u);
}

TEST_F(PcscIntegration, T1PassesWrongLengthAndBytesAvailableThrough) {
    InsertCard(kT1Atr, {"6C03", "6110"});
    Open();
    EXPECT_EQ(Send("00B0000010", 2), "6C03");
    EXPECT_EQ(Send("00A40000", 1), "6110");
    EXPECT_THAT(card_->Received(), ElementsAre("00B0000010", "00A40000"));
}

TEST_F(PcscIntegration, StatusWordOnlyIsATwoByteResponse) {
    InsertCard(kT0Atr, {"6A82"});
    Open();
    EXPECT_EQ(Send("00A4000002 3F00", 3), "6A82");
}

TEST_F(PcscIntegration, ResponseBeyond4096BytesFailsInTransmit) {
    InsertCardWith(kT1Atr, [](const Bytes &command) {
        Bytes answer(command[4] == 1 ? 4095 : 4094, 0x5A);
        answer.push_back(0x90);
        answer.push_back(0x00);
        return answer;
    });
    Open();
    EXPECT_EQ(Send("00B0000000", 2).size(), 4096u * 2);
    EXPECT_EQ(Send("00B0000001", 2),
              "error: SCardTransmit() failed: The data buffer for returned data is too small for the returned data");
}

TEST_F(PcscIntegration, CardRemovedBetweenCalls) {
    InsertCard(kT0Atr, {"9000"});
    Open();
    EXPECT_EQ(Send("00A40000", 1), "9000");
    card_->Remove();
    ASSERT_TRUE(TestPcscd::WaitForCard(TestPcscd::kVpcdReader, false));
    EXPECT_EQ(Send("00A40000", 1),
              "error: SCardTransmit() failed: The smart card has been removed, so further communication is not possible");
    // The handle stays valid for closing; the card being gone does not stop the clean-up.
    char *closing = pcsc_CloseReader(handle_);
    handle_ = nullptr;
    EXPECT_EQ(Text(closing), "");
}

}  // namespace
}  // namespace zolm::pcsc::testing
