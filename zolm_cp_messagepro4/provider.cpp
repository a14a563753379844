// cp_Init, cp_Info and cp_GenerateKey: the library's check and key generation on a medium.
#include "zolm/provider.h"

#include <string>

#include "common/formatted_exception.h"
#include "common/key_medium.h"
#include "common/memory_buffer.h"
#include "common/name_tables.h"
#include "common/provider_exports.h"
#include "platform/mespro/mespro.h"
#include "zolm_cp_messagepro4/callbacks.h"
#include "zolm_cp_messagepro4/library_errors.h"

namespace {

// "mespro.dll" of the Message-PRO world is this platform's libmespro.so.
constexpr char kLibraryFile[] = "libmespro.so";
constexpr char kSignatureFile[] = "mespro.sig";

const ProviderInfo kInfo = {"MessagePro4", "Message-PRO 4", "GOST/CPA", {1, 1, 0, 0, 0, 1}};

std::string Text(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

extern "C" {

char *ZOLM_STDCALL cp_Init(const HostTable *host, const char *directory) {
    static_assert(std::is_same_v<decltype(cp_Init), cp_Init_fn>);
    return zolm::InitProvider(host, [&] {
        MESPRO_CHECK(PKCS7Init(nullptr, 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
        std::string folder = Text(directory);
        CMemoryBufferPtr signature = CMemoryBuffer::LoadFile(folder + kSignatureFile);
        if (VerifyDevelopersSign((folder + kLibraryFile).c_str(), signature->Data(),
                                 static_cast<int32_t>(signature->Length())) == 0) {
            MESPRO_RAISE("VerifyDevelopersSign() failed, MessageProError=%d, %s (%s:%d)", 0);
        }
    });
}

const ProviderInfo *cp_Info(void) { return &kInfo; }

char *ZOLM_STDCALL cp_GenerateKey(uint32_t medium, const char *password, const char *paramSetOid,
                                  const char *algorithmOid) {
    return zolm::ResultOf([&] {
        messagepro::Callbacks().keyPressMedium = medium;
        // An earlier generation's callback stays installed: "1" only skips installing it now.
        if (zolm::HostParameter(medium, "no_key_callback") != "1") messagepro::InstallKeyPressCallback();
        std::string path = zolm::MediumPath(medium);
        if (path.empty()) throw formatted_exception("%s", "Invalid path parameter");

        MESPRO_CHECK(PKCS7Init(nullptr, 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        int32_t store = PSE_Generation(path.c_str(), 0, 0, 1);
        if (store != 0 && store != MESPRO_E_STORE_EXISTS) {
            MESPRO_RAISE("PSE_Generation() failed, MessageProError=%d, %s (%s:%d)", store);
        }
        const char *algorithm = zolm::AlgorithmName(paramSetOid, algorithmOid);
        MESPRO_CHECK(SetNewKeysAlgorithm(algorithm), "SetNewKeysAlgorithm() failed, MessageProError=%d, %s (%s:%d)");
        messagepro::Callbacks().keyPassword = password;
        messagepro::InstallNewKeyPasswordCallback();
        MESPRO_CHECK(NewKeysGenerationEx(path.c_str(), 0, (path + "keyn.der").c_str(), "", 0),
                     "NewKeysGenerationEx() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
    });
}

}  // extern "C"
