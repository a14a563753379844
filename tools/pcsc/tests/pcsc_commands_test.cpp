// The PC/SC commands end to end: a private pcscd, vpcd's reader and a scripted virtual card.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "tools/host/pcsc_commands.h"
#include "zolm_pcsc/testing/test_pcscd.h"
#include "zolm_pcsc/testing/virtual_card.h"

namespace zolm::host {
namespace {

using pcsc::testing::HexBytes;
using pcsc::testing::TestPcscd;
using pcsc::testing::VirtualCard;
using ::testing::ElementsAre;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Command(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunPcscCommand(args, out, err);
    return {status, out.str(), err.str()};
}

class PcscCommands : public ::testing::Test {
protected:
    void SetUp() override { TestPcscd::SocketPath(); }
    void InsertCard(std::vector<std::string> answers) {
        ASSERT_NO_THROW(daemon_.Start(true));
        card_ = std::make_unique<VirtualCard>(HexBytes("3B021450"), VirtualCard::Script(std::move(answers)));
        ASSERT_TRUE(card_->Insert(daemon_.VpcdPort()));
        ASSERT_TRUE(TestPcscd::WaitForCard(TestPcscd::kVpcdReader, true));
    }
    TestPcscd daemon_;
    std::unique_ptr<VirtualCard> card_;
};

TEST_F(PcscCommands, ListsReadersOnePerLine) {
    Outcome none = Command({"pcsc-readers"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "no smart-card reader found\n");

    InsertCard({});
    Outcome listed = Command({"pcsc-readers"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "Virtual PCD 00 00\nVirtual PCD 00 01\n");
}

TEST_F(PcscCommands, SendsApdusWithTheirCasesAndPrintsResponses) {
    InsertCard({"6C02", "AABB9000", "6A82"});
    Outcome run = Command({"pcsc-send", "--reader", TestPcscd::kVpcdReader, "--atr", "00B0000010", "00 A4 00 00 02 3F 00"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "ATR 3B021450\nAABB9000\n6A82\n");
    // Case 2 under T=0: Le dropped, then repeated with the card's length; case 3 unchanged.
    EXPECT_THAT(card_->Received(), ElementsAre("00B00000", "00B0000002", "00A40000023F00"));
}

TEST_F(PcscCommands, MistakesAndLibraryErrorsAreReported) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *err;
    } cases[] = {
        {{"pcsc-send", "00A40000"}, 2, "pcsc-send needs --reader (see --help)\n"},
        {{"pcsc-send", "--reader", "R", "00A4000"}, 2, "not a hex APDU: \"00A4000\" (see --help)\n"},
        {{"pcsc-send", "--reader", "R", "00A4zz00"}, 2, "not a hex APDU: \"00A4zz00\" (see --help)\n"},
        {{"pcsc-send", "--reader", "R", "00A400000201"}, 2,
         "cannot tell the case of APDU 00A400000201: give --case (see --help)\n"},
        {{"pcsc-send", "--reader", "R", "--case", "5", "00A40000"}, 2,
         "--case takes 1, 2, 3 or 4, not \"5\" (see --help)\n"},
        {{"pcsc-send", "--reader", "R", "00A40000"}, 1,
         "SCardEstablishContext() failed: The smart card resource manager is not running\n"},
    };
    for (const Case &c : cases) {
        Outcome run = Command(c.args);
        EXPECT_EQ(run.status, c.status) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace zolm::host
