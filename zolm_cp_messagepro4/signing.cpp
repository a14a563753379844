// cp_SignData: a CMS signature by the medium's current key ("key.der") and certificate ("cert.pem"),
// with the signer's certificate and the signing time, copied into blocks the host releases.
#include <memory>
#include <string>

#include "common/formatted_exception.h"
#include "common/key_medium.h"
#include "common/result.h"
#include "platform/mespro/mespro.h"
#include "zolm/provider.h"
#include "zolm_cp_messagepro4/library_errors.h"

namespace {
// Taken by the library as it stands, relative to the current directory.
constexpr char kCaLocation[] = "../../CA";
constexpr int32_t kAttached = 1;
}  // namespace

extern "C" {

char *ZOLM_STDCALL cp_SignData(uint32_t medium, const char *password, const void *data, uint32_t length, uint32_t,
                               void **signature, uint32_t *signatureLength, char **info) {
    return zolm::ResultOf([&] {
        std::string path = zolm::MediumPath(medium);
        std::string keyFile = path + "key.der";
        std::string certificateFile = path + "cert.pem";
        MESPRO_CHECK(PKCS7Init(path.c_str(), 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(AddCAs(kCaLocation), "AddCAs() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(AddPSEPrivateKeyEx(path.c_str(), 0, keyFile.c_str(), password),
                     "AddPSEPrivateKeyEx() failed, MessageProError=%d, %s (%s:%d)");
        void *context = GetSignCTX();
        if (context == nullptr) {
            int32_t code = GetMessageProLastError();
            MESPRO_RAISE("GetSignCTX() failed, GetMessageProLastError=%d, %s (%s:%d)", code);
        }
        MESPRO_CHECK(AddSigner(context, 0, certificateFile.c_str(), 0),
                     "AddSigner() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(InsertCertificateToSign(1), "InsertCertificateToSign() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(InsertSigningTimeToSign(1), "InsertSigningTimeToSign() failed, MessageProError=%d, %s (%s:%d)");
        // The library takes a signed 32-bit length; a larger block is refused by it, not cut short.
        if (length > INT32_MAX) MESPRO_RAISE("SignBufferEx() failed, MessageProError=%d, %s (%s:%d)", MESPRO_E_INPUT);
        void *output = nullptr;
        int32_t outputLength = 0;
        MESPRO_CHECK(SignBufferEx(context, data, static_cast<int32_t>(length), &output, &outputLength, kAttached),
                     "SignBufferEx() failed, MessageProError=%d, %s (%s:%d)");
        // The library's block is given back on every way out from here.
        std::unique_ptr<void, decltype(&FreeBuffer)> owned(output, FreeBuffer);
        if (signature == nullptr || signatureLength == nullptr || info == nullptr) {
            throw formatted_exception("%s", "cp_SignData: an output address is null");
        }
        char *emptyInfo = static_cast<char *>(zolm::NewBlock("", 1));
        void *copy = nullptr;
        try {
            copy = zolm::NewBlock(output, static_cast<size_t>(outputLength));
        } catch (...) {
            zolm::ReleaseBlock(emptyInfo, 1);
            throw;
        }
        *info = emptyInfo;
        *signatureLength = static_cast<uint32_t>(outputLength);
        *signature = copy;
        FreeSignCTX(context);
        owned.reset();
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
    });
}

}  // extern "C"
