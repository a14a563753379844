// The exports of zolm_ukep.so: each runs its work under the result convention.
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/result.h"
#include "zolm/ukep.h"
#include "zolm_ukep/certificate_table.h"
#include "zolm_ukep/signing.h"

extern "C" {

char *ZOLM_STDCALL ukep_Init(void *) {
    return zolm::ResultOf([] { ukep::Init(); });
}

char *ZOLM_STDCALL ukep_EnumerateCertificates(char **list, int32_t *length) {
    return zolm::ResultOf([&] {
        if (list == nullptr || length == nullptr) throw std::invalid_argument("invalid argument");
        std::string text = ukep::EnumerateCertificates();
        if (text.size() > INT32_MAX - 1) throw std::length_error("the certificate list is too long");
        char *block = static_cast<char *>(zolm::NewBlock(text.c_str(), text.size() + 1));
        *list = block;
        *length = static_cast<int32_t>(text.size());
    });
}

char *ZOLM_STDCALL ukep_SignData(const char *id, const void *data, uint32_t dataLength, void **signature,
                                 uint32_t *signatureLength) {
    return zolm::ResultOf([&] { ukep::SignData(id, data, dataLength, signature, signatureLength); });
}

char *ZOLM_STDCALL ukep_Done(void) {
    return zolm::ResultOf([] { ukep::Done(); });
}

// A negative length wipes nothing.
void ZOLM_STDCALL ukep_ReleaseMemory(void *block, int32_t length) {
    zolm::ReleaseBlock(block, length < 0 ? 0 : static_cast<uint32_t>(length));
}

}  // extern "C"

void ZOLM_STDCALL cp_ReleaseMemory(void *block, uint32_t length) { zolm::ReleaseBlock(block, length); }
