// The key's stages on a medium: activation, withdrawal, destruction, copying to another medium,
// and the current key's password (check and change).
#include <string>

#include "common/formatted_exception.h"
#include "common/key_medium.h"
#include "common/memory_buffer.h"
#include "common/result.h"
#include "platform/mespro/mespro.h"
#include "zolm/provider.h"
#include "zolm_cp_messagepro4/library_errors.h"

namespace {

// Runs work between PKCS7Init and PKCS7Final; the library is finished on every way out, and a
// failure of PKCS7Final replaces an earlier error.
template <typename Work>
void WithLibrary(Work &&work) {
    try {
        MESPRO_CHECK(PKCS7Init(nullptr, 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        work();
    } catch (...) {
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
        throw;
    }
    MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
}

}  // namespace

extern "C" {

char *ZOLM_STDCALL cp_ActivateKey(uint32_t medium) {
    return zolm::ResultOf([&] { zolm::RenameFile(medium, "keyn.der", "key.der"); });
}

char *ZOLM_STDCALL cp_DeactivateKey(uint32_t medium) {
    return zolm::ResultOf([&] { zolm::DeleteFileIfPresent(medium, "key.der"); });
}

char *ZOLM_STDCALL cp_DestroyKey(uint32_t medium) {
    return zolm::ResultOf([&] {
        for (const char *name : {"mk.db3", "masks.db3", "kek.opq", "keyn.der", "rand.opq"}) {
            zolm::DeleteFileIfPresent(medium, name);
        }
    });
}

char *ZOLM_STDCALL cp_CopyKey(uint32_t source, uint32_t target, int32_t *copied) {
    return zolm::ResultOf([&] {
        CMemoryBufferPtr current = zolm::ReadFileIfPresent(source, "key.der");
        CMemoryBufferPtr pending = zolm::ReadFileIfPresent(source, "keyn.der");
        if (copied == nullptr) throw formatted_exception("%s", "cp_CopyKey: the address of the flag is null");
        *copied = 0;
        MESPRO_CHECK(PKCS7Init(nullptr, 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        std::string targetPath = zolm::MediumPath(target);
        std::string sourcePath = zolm::MediumPath(source);
        MESPRO_CHECK(PSE_Copy(sourcePath.c_str(), 0, targetPath.c_str(), 1),
                     "PSE_Copy() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
        if (current && !zolm::WriteFileAfterAsking(target, "key.der", *current)) return;
        if (pending && !zolm::WriteFileAfterAsking(target, "keyn.der", *pending)) return;
        *copied = 1;
    });
}

char *ZOLM_STDCALL cp_CheckPassword(uint32_t medium, const char *password, int32_t *accepted) {
    return zolm::ResultOf([&] {
        WithLibrary([&] {
            std::string path = zolm::MediumPath(medium);
            if (accepted == nullptr)
                throw formatted_exception("%s", "cp_CheckPassword: the address of the flag is null");
            *accepted = AddPSEPrivateKeyEx(path.c_str(), 0, (path + "key.der").c_str(), password) == 0 ? 1 : 0;
        });
    });
}

char *ZOLM_STDCALL cp_ChangePassword(uint32_t medium, const char *currentPassword, const char *newPassword) {
    return zolm::ResultOf([&] {
        WithLibrary([&] {
            std::string path = zolm::MediumPath(medium);
            MESPRO_CHECK(
                ChangePrivateKeyPasswordEx(path.c_str(), 0, (path + "key.der").c_str(), currentPassword, newPassword),
                "ChangePrivateKeyPasswordEx() failed, MessageProError=%d, %s (%s:%d)");
        });
    });
}

}  // extern "C"
