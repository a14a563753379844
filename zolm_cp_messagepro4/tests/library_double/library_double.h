// Controls of the recording libmespro.so double, resolved by the tests with dlsym.
#pragma once

#include <stdint.h>

extern "C" {
// Forgets the log and the scripted codes.
void MesproDouble_Reset(void);
// Every later call of `function` returns `code` (and GetSignCTX returns null for a nonzero code).
void MesproDouble_Fail(const char *function, int32_t code);
// The calls so far, one a line: Name(arg, ...) with texts quoted, pointers as ptr or null.
const char *MesproDouble_Log(void);
// Calls the installed key-press callback; -2 when none is installed.
int32_t MesproDouble_KeyPress(int32_t wanted, uint32_t value);
// Calls the installed new-key (newKey 1) or key-file password callback, with GetKeyFileNameForPassword
// answering keyFile; -2 when none is installed.
int32_t MesproDouble_AskPassword(int32_t newKey, const char *keyFile, char *buffer, int32_t size);
}
