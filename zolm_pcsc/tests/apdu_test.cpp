// The T=0 rules and the exchange, against a scripted card: what goes to the card, what comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/formatted_exception.h"
#include "zolm_pcsc/apdu.h"
#include "zolm_pcsc/tests/fake_pcsc.h"

namespace zolm::pcsc::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::MatchesRegex;

struct ExchangeCase {
    const char *name;
    DWORD protocol;
    int32_t apduCase;
    const char *command;
    std::vector<std::string> cardAnswers;
    std::vector<std::string> expectSent;
    const char *expectResponse;
};

const ExchangeCase kExchangeCases[] = {
    {"T0Case1FourBytesGetsP3", SCARD_PROTOCOL_T0, 1, "00A40000", {"9000"}, {"00A4000000"}, "9000"},
    {"T0Case1FiveBytesUnchanged", SCARD_PROTOCOL_T0, 1, "00A4000000", {"9000"}, {"00A4000000"}, "9000"},
    {"T0Case2DropsLe", SCARD_PROTOCOL_T0, 2, "00B0000002", {"AABB9000"}, {"00B00000"}, "AABB9000"},
    {"T0Case2WrongLengthRepeatsWithSW2", SCARD_PROTOCOL_T0, 2, "00B0000010",
     {"6C03", "0102039000"}, {"00B00000", "00B0000003"}, "0102039000"},
    {"T0WrongLengthRepeatsOnlyOnce", SCARD_PROTOCOL_T0, 2, "00B0000010",
     {"6C03", "6C02"}, {"00B00000", "00B0000003"}, "6C02"},
    {"T0Case3Unchanged", SCARD_PROTOCOL_T0, 3, "00D6000002AABB", {"9000"}, {"00D6000002AABB"}, "9000"},
    {"T0Case4DropsLeAndFetchesData", SCARD_PROTOCOL_T0, 4, "00A40400023F0000",
     {"6104", "AABBCCDD9000"}, {"00A40400023F00", "00C0000004"}, "AABBCCDD9000"},
    {"T0ChainJoinsPartsInOrderKeepingLastStatus", SCARD_PROTOCOL_T0, 4, "80CA000001AA00",
     {"6102", "AABB6103", "CCDDEE6282"}, {"80CA000001AA", "00C0000002", "00C0000003"}, "AABBCCDDEE6282"},
    {"T0DataBeforeChainIsKept", SCARD_PROTOCOL_T0, 2, "00B0000004",
     {"11226102", "33449000"}, {"00B00000", "00C0000002"}, "112233449000"},
    {"T0WrongLengthThenChain", SCARD_PROTOCOL_T0, 2, "00B0000000",
     {"6C02", "6101", "AA9000"}, {"00B00000", "00B0000002", "00C0000001"}, "AA9000"},
    {"T0OtherCaseValuesUnchanged", SCARD_PROTOCOL_T0, 7, "00B0000010", {"9000"}, {"00B0000010"}, "9000"},
    {"T0NegativeCaseUnchanged", SCARD_PROTOCOL_T0, -1, "00A40000", {"9000"}, {"00A40000"}, "9000"},
    {"T1PassesWrongLengthThrough", SCARD_PROTOCOL_T1, 2, "00B0000010", {"6C08"}, {"00B0000010"}, "6C08"},
    {"T1PassesBytesAvailableThrough", SCARD_PROTOCOL_T1, 4, "00A40400023F0000", {"6110"},
     {"00A40400023F0000"}, "6110"},
    {"T1Case1FourBytesUnchanged", SCARD_PROTOCOL_T1, 1, "00A40000", {"9000"}, {"00A40000"}, "9000"},
    {"StatusWordOnlyIsTwoBytes", SCARD_PROTOCOL_T0, 3, "00D6000001AA", {"6A82"}, {"00D6000001AA"}, "6A82"},
};

class ExchangeRules : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeRules, SendsAndAssembles) {
    const ExchangeCase &c = GetParam();
    FakePcsc pcsc;
    for (const std::string &answer : c.cardAnswers) pcsc.Answer(answer);
    Bytes command = HexBytes(c.command);
    CMemoryBufferPtr response =
        Transceive(pcsc, FakePcsc::kCard, c.protocol, command.data(), command.size(), c.apduCase);
    EXPECT_THAT(pcsc.SentHex(), ElementsAreArray(c.expectSent));
    EXPECT_EQ(HexText(response->Data(), response->Length()), c.expectResponse);
    EXPECT_TRUE(pcsc.replies.empty()) << "every scripted answer was asked for";
    // Every exchange names the agreed protocol and offers exactly the 4096-byte receive buffer.
    for (DWORD protocol : pcsc.sendProtocols) EXPECT_EQ(protocol, c.protocol);
    for (DWORD size : pcsc.offeredReceiveSizes) EXPECT_EQ(size, 4096u);
}

INSTANTIATE_TEST_SUITE_P(Apdu, ExchangeRules, ::testing::ValuesIn(kExchangeCases),
                         [](const auto &info) { return std::string(info.param.name); });

std::string FailureOf(FakePcsc &pcsc, DWORD protocol, const std::string &command, int32_t apduCase) {
    Bytes bytes = HexBytes(command);
    try {
        Transceive(pcsc, FakePcsc::kCard, protocol, bytes.data(), bytes.size(), apduCase);
    } catch (const std::exception &e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(Exchange, TransmitFailureNamesTheCall) {
    FakePcsc pcsc;
    pcsc.replies.push_back({SCARD_W_REMOVED_CARD, {}});
    EXPECT_EQ(FailureOf(pcsc, SCARD_PROTOCOL_T1, "00A40000", 1),
              "SCardTransmit() failed: The smart card has been removed, so further communication is not possible");
}

TEST(Exchange, FailureInsideChainIsReported) {
    FakePcsc pcsc;
    pcsc.Answer("AA6102");
    pcsc.replies.push_back({SCARD_E_COMM_DATA_LOST, {}});
    EXPECT_EQ(FailureOf(pcsc, SCARD_PROTOCOL_T0, "00B0000000", 2),
              "SCardTransmit() failed: A communications error with the smart card has been detected");
}

TEST(Exchange, ResponseWithoutStatusWordIsAnAssertion) {
    for (const char *answer : {"", "90"}) {
        FakePcsc pcsc;
        pcsc.Answer(answer);
        EXPECT_THAT(FailureOf(pcsc, SCARD_PROTOCOL_T1, "00A40000", 1),
                    MatchesRegex("assertion failed in apdu\\.cpp:[0-9]+"))
            << answer;
    }
}

TEST(Exchange, ReceiveHoldsAtMost4096Bytes) {
    FakePcsc pcsc;
    Bytes full(4094, 0x5A);
    full.push_back(0x90);
    full.push_back(0x00);
    pcsc.replies.push_back({SCARD_S_SUCCESS, full});
    Bytes command = HexBytes("00B0000000");
    CMemoryBufferPtr response = Transceive(pcsc, FakePcsc::kCard, SCARD_PROTOCOL_T1, command.data(), 5, 2);
    EXPECT_EQ(Bytes(response->Data(), response->Data() + response->Length()), full);

    full.push_back(0x00);
    pcsc.replies.push_back({SCARD_S_SUCCESS, full});
    EXPECT_EQ(FailureOf(pcsc, SCARD_PROTOCOL_T1, "00B0000000", 2),
              "SCardTransmit() failed: The data buffer for returned data is too small for the returned data");
}

// A broken card that answers every GET RESPONSE with another 61xx must not hold the caller forever.
TEST(Exchange, EndlessChainWithoutDataStopsAfterRoundLimit) {
    FakePcsc pcsc;
    pcsc.card = [](const Bytes &) { return FakePcsc::Reply{SCARD_S_SUCCESS, HexBytes("6100")}; };
    EXPECT_EQ(FailureOf(pcsc, SCARD_PROTOCOL_T0, "00B0000000", 2), "GET RESPONSE chain exceeds 1024 rounds");
    EXPECT_EQ(pcsc.sent.size(), 1u + 1024u);
}

TEST(Exchange, EndlessChainWithDataStopsAtSizeLimit) {
    FakePcsc pcsc;
    Bytes part(256, 0x33);
    part.push_back(0x61);
    part.push_back(0x00);
    pcsc.card = [&](const Bytes &) { return FakePcsc::Reply{SCARD_S_SUCCESS, part}; };
    EXPECT_EQ(FailureOf(pcsc, SCARD_PROTOCOL_T0, "00B0000000", 2), "GET RESPONSE chain exceeds 65536 bytes");
    EXPECT_EQ(pcsc.sent.size(), 257u);  // 256 parts already hold 65536 bytes; the next one is too many
}

TEST(Exchange, ChainOfExactly65536BytesIsWhole) {
    FakePcsc pcsc;
    int parts = 0;
    pcsc.card = [&](const Bytes &) {
        Bytes part(256, static_cast<uint8_t>(parts));
        ++parts;
        part.push_back(parts < 256 ? 0x61 : 0x90);
        part.push_back(0x00);
        return FakePcsc::Reply{SCARD_S_SUCCESS, part};
    };
    pcsc.Answer("6100");
    Bytes command = HexBytes("00B0000000");
    CMemoryBufferPtr response = Transceive(pcsc, FakePcsc::kCard, SCARD_PROTOCOL_T0, command.data(), 5, 2);
    ASSERT_EQ(response->Length(), 65536u + 2u);
    EXPECT_EQ(response->Data()[0], 0);
    EXPECT_EQ(response->Data()[65535], 255);
    EXPECT_EQ(HexText(response->Data() + 65536, 2), "9000");
}

}  // namespace
}  // namespace zolm::pcsc::testing
