// The fifteen exports of zolm_cp_cryptopro.so over the CryptoPro-like CSP. cp_Done, cp_StoreCertificate
// and cp_ReleaseMemory are the framework's shared ones.
#include "common/formatted_exception.h"
#include "common/provider_exports.h"
#include "common/result.h"
#include "zolm/provider.h"
#include "zolm_cp_cryptopro/container_binding.h"
#include "zolm_cp_cryptopro/key_operations.h"
#include "zolm_cp_cryptopro/texts.h"

namespace {

const ProviderInfo kInfo = {"CryptoPro45", "КриптоПро", "GOST/CPA", {1, 1, 0, 0, 0, 1}};

}  // namespace

extern "C" {

// The directory argument belongs to the other plug-in's library; this one checks the CSP only.
char *ZOLM_STDCALL cp_Init(const HostTable *host, const char *) {
    return zolm::InitProvider(host, [] { cryptopro::CheckCsp(); });
}

const ProviderInfo *cp_Info(void) { return &kInfo; }

char *ZOLM_STDCALL cp_GenerateKey(uint32_t medium, const char *password, const char *paramSetOid,
                                  const char *algorithmOid) {
    return zolm::ResultOf([&] { cryptopro::GenerateKey(medium, password, paramSetOid, algorithmOid); });
}

// The password of the pending key opens its container when the generation's context is gone.
char *ZOLM_STDCALL cp_MakeRequest(uint32_t medium, const char *password, const char *requestTemplate) {
    return zolm::ResultOf([&] { cryptopro::MakeRequest(medium, password, requestTemplate); });
}

char *ZOLM_STDCALL cp_MakeRequestCMC(uint32_t, const char *, const char *, const char *, const char *) {
    return zolm::ResultOf([] { throw formatted_exception("%s", cryptopro::kFunctionNotSupported); });
}

char *ZOLM_STDCALL cp_ActivateKey(uint32_t medium) {
    return zolm::ResultOf([&] { cryptopro::PromotePending(medium); });
}

// Withdrawing or destroying a key leaves the containers and the record as they are.
static char *ZOLM_STDCALL KeepKey(uint32_t) { return nullptr; }
char *ZOLM_STDCALL cp_DeactivateKey(uint32_t medium) { return KeepKey(medium); }
char *ZOLM_STDCALL cp_DestroyKey(uint32_t medium) { return KeepKey(medium); }

char *ZOLM_STDCALL cp_CopyKey(uint32_t, uint32_t, int32_t *) {
    return zolm::ResultOf([] { throw formatted_exception("%s", cryptopro::kOperationNotSupported); });
}

char *ZOLM_STDCALL cp_SignData(uint32_t medium, const char *password, const void *data, uint32_t length, uint32_t,
                               void **signature, uint32_t *signatureLength, char **info) {
    return zolm::ResultOf(
        [&] { cryptopro::SignData(medium, password, data, length, signature, signatureLength, info); });
}

char *ZOLM_STDCALL cp_CheckPassword(uint32_t medium, const char *password, int32_t *accepted) {
    return zolm::ResultOf([&] { cryptopro::CheckPassword(medium, password, accepted); });
}

char *ZOLM_STDCALL cp_ChangePassword(uint32_t medium, const char *currentPassword, const char *newPassword) {
    return zolm::ResultOf([&] { cryptopro::ChangePassword(medium, currentPassword, newPassword); });
}

}  // extern "C"
