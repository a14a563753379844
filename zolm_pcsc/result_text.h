// The English texts of PC/SC result codes, and the one way a failed PC/SC call is reported.
#pragma once

#include <winscard.h>

#include <string>

namespace zolm::pcsc {

// The text of a result code; a code without one reads "Smart card error 0x%08X".
std::string ResultText(LONG code);

// Raises formatted_exception "<call>() failed: <text of code>".
[[noreturn]] void ThrowCallFailure(const char *call, LONG code);

// Raises formatted_exception "assertion failed in <file>:<line>" for states the PC/SC service
// should never produce; file is reduced to its base name.
[[noreturn]] void ThrowAssertion(const char *file, int line);

}  // namespace zolm::pcsc

#define ZOLM_PCSC_ASSERT(condition) \
    do {                            \
        if (!(condition)) ::zolm::pcsc::ThrowAssertion(__FILE__, __LINE__); \
    } while (0)
