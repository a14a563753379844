// Exports every provider plug-in shares unchanged; linked into each plug-in as object code so that
// its version script can publish them.
#include "common/provider_exports.h"

extern "C" {

void cp_Done(void) {}

// Reads none of its first three arguments and writes no file: the host stores "cert.pem" itself.
char *ZOLM_STDCALL cp_StoreCertificate(uint32_t, uint32_t, uint32_t, int32_t *stored) {
    if (stored != nullptr) *stored = 1;
    return nullptr;
}

// Zeroes the first `length` bytes of a block this plug-in handed out, then frees it.
void cp_ReleaseMemory(void *block, uint32_t length) { zolm::ReleaseBlock(block, length); }

}
