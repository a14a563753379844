// The result-code texts: table entries, codes outside it, and codes as pcsc-lite's 64-bit LONG carries them.
#include <gtest/gtest.h>

#include "zolm_pcsc/result_text.h"

namespace zolm::pcsc {
namespace {

TEST(ResultText, TableAndFallback) {
    struct Case {
        LONG code;
        const char *text;
    } cases[] = {
        {0, "No error was encountered"},
        {0x6D, "The client attempted a smart card operation in a remote session"},
        {SCARD_F_INTERNAL_ERROR, "An internal consistency check failed"},
        {SCARD_E_COMM_DATA_LOST, "A communications error with the smart card has been detected"},
        {SCARD_W_CANCELLED_BY_USER, "The action was canceled by the user"},
        // The first codes after each range of the table.
        {0x80100030, "Smart card error 0x80100030"},
        {0x8010006F, "Smart card error 0x8010006F"},
        {1, "Smart card error 0x00000001"},
        // A code sign-extended from 32 bits is the same code.
        {static_cast<LONG>(static_cast<int32_t>(0x80100069)),
         "The smart card has been removed, so further communication is not possible"},
        {static_cast<LONG>(0x80100069), "The smart card has been removed, so further communication is not possible"},
        // Wider than 32 bits: shown whole, never cut to a code it is not.
        {static_cast<LONG>(0x180100069), "Smart card error 0x180100069"},
    };
    for (const Case &c : cases) EXPECT_EQ(ResultText(c.code), c.text) << std::hex << c.code;
}

TEST(ResultText, CallFailureFormat) {
    try {
        ThrowCallFailure("SCardConnect", SCARD_E_SHARING_VIOLATION);
        FAIL();
    } catch (const std::exception &e) {
        EXPECT_STREQ(e.what(),
                     "SCardConnect() failed: The smart card cannot be accessed because of other outstanding connections");
    }
}

}  // namespace
}  // namespace zolm::pcsc
