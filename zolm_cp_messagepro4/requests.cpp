// cp_MakeRequest (PKCS #10 for the pending key) and cp_MakeRequestCMC (the same request
// authenticated by the current key and certificate): the template's subject and extensions are
// handed to the library, which writes "req.pem" into the medium's directory.
#include <cstdlib>
#include <string>

#include "common/key_medium.h"
#include "common/memory_buffer.h"
#include "common/name_tables.h"
#include "common/request_template.h"
#include "common/result.h"
#include "platform/mespro/mespro.h"
#include "zolm/provider.h"
#include "zolm_cp_messagepro4/callbacks.h"
#include "zolm_cp_messagepro4/library_errors.h"

namespace {

constexpr int32_t kFlagsBeforeSubject = 8;
constexpr int32_t kFlagsPkcs10 = 2;
constexpr int32_t kFlagsCmc = 0x10;

void ApplyTemplate(const zolm::RequestTemplate &request) {
    SetInputCodePage(1);
    SetOutputCodePage(1);
    ResetDistinguishedName();
    ResetExtensions();
    MESPRO_CHECK(SetCertificateRequestFlags(kFlagsBeforeSubject),
                 "SetCertificateRequestFlags() failed, MessageProError=%d, %s (%s:%d)");
    for (const zolm::SubjectEntry &entry : request.subject) {  // already in ascending order
        MESPRO_CHECK(SetDistinguishedNameAttribute(entry.key.c_str(), entry.value.c_str()),
                     "SetDistinguishedNameAttribute() failed, MessageProError=%d, %s (%s:%d)");
    }
    int32_t usage = 0;
    for (const std::string &name : request.keyUsage) {
        if (const zolm::KeyUsageFlagName *flag = zolm::FindKeyUsageFlag(name))
            usage |= static_cast<int32_t>(flag->messageProFlag);
    }
    if (usage != 0) {
        MESPRO_CHECK(SetKeyUsage(usage, request.keyUsageCritical ? 1 : 0),
                     "SetKeyUsage() failed, MessageProError=%d, %s (%s:%d)");
    }
    for (const zolm::OidEntry &entry : request.extendedKeyUsage) {
        MESPRO_CHECK(AddExtendedKeyUsage(entry.key.c_str(), request.extendedKeyUsageCritical ? 1 : 0),
                     "AddExtendedKeyUsage() failed, MessageProError=%d, %s (%s:%d)");
    }
    for (const zolm::OidEntry &entry : request.policies) {
        MESPRO_CHECK(AddCertificatePolicy(entry.key.c_str(), request.policiesCritical ? 1 : 0),
                     "AddCertificatePolicy() failed, MessageProError=%d, %s (%s:%d)");
    }
    if (request.basicConstraintsCA != -1) {
        MESPRO_CHECK(SetBasicConstraints(request.basicConstraintsCA, request.basicConstraintsCritical ? 1 : 0),
                     "SetBasicConstraints() failed, MessageProError=%d, %s (%s:%d)");
    }
    MESPRO_CHECK(SetSubjectSignTool(), "SetSubjectSignTool() failed, MessageProError=%d, %s (%s:%d)");
}

// The library's serial number text, copied and given back at once.
std::string CertificateSerial(const CMemoryBuffer &certificate) {
    char *serial = GetCertificateSerialBuffer(certificate.Data(), static_cast<int32_t>(certificate.Length()));
    std::string copy = serial != nullptr ? serial : "";
    FreeBuffer(serial);
    return copy;
}

}  // namespace

extern "C" {

char *ZOLM_STDCALL cp_MakeRequest(uint32_t medium, const char *password, const char *requestTemplate) {
    return zolm::ResultOf([&] {
        zolm::RequestTemplate request = zolm::ReadRequestTemplate(requestTemplate);
        std::string path = zolm::MediumPath(medium);
        std::string requestFile = path + "req.pem";
        messagepro::Callbacks().pendingKeyPassword = password;
        messagepro::InstallKeyFilePasswordCallback();
        MESPRO_CHECK(PKCS7Init(path.c_str(), 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        ApplyTemplate(request);
        SetCertificateRequestFlags(kFlagsPkcs10);
        MESPRO_CHECK(MakePSECertificateRequest(requestFile.c_str(), path.c_str(), (path + "keyn.der").c_str(), 0, 0),
                     "MakePSECertificateRequest() failed, MessageProError=%d, %s (%s:%d)");
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
    });
}

char *ZOLM_STDCALL cp_MakeRequestCMC(uint32_t medium, const char *requestTemplate, const char *pendingPassword,
                                     const char *currentPassword, const char *caLocation) {
    return zolm::ResultOf([&] {
        zolm::RequestTemplate request = zolm::ReadRequestTemplate(requestTemplate);
        std::string path = zolm::MediumPath(medium);
        std::string requestFile = path + "req.pem";
        messagepro::Callbacks().keyPassword = currentPassword;
        messagepro::Callbacks().pendingKeyPassword = pendingPassword;
        messagepro::InstallKeyFilePasswordCallback();
        MESPRO_CHECK(PKCS7Init(nullptr, 0), "PKCS7Init() failed, MessageProError=%d, %s (%s:%d)");
        ApplyTemplate(request);
        void *context = GetSignCTX();
        if (context == nullptr) MESPRO_RAISE("GetSignCTX() failed, MessageProError=%d, %s (%s:%d)", 0);
        try {
            MESPRO_CHECK(AddCAs(caLocation), "AddCAs() failed, MessageProError=%d, %s (%s:%d)");
            CMemoryBufferPtr certificate = zolm::ReadFile(medium, "cert.pem");
            MESPRO_CHECK(AddCertificateFromBuffer(certificate->Data(), static_cast<int32_t>(certificate->Length())),
                         "AddCerificateFromBuffer() failed, MessageProError=%d, %s (%s:%d)");
            std::string serial = CertificateSerial(*certificate);
            MESPRO_CHECK(AddSigner(context, 2, serial.c_str(), 0),
                         "AddSigner() failed, MessageProError=%d, %s (%s:%d)");
            MESPRO_CHECK(AddPSEPrivateKeyEx(path.c_str(), 0, (path + "key.der").c_str(), currentPassword),
                         "AddPSEPrivateKeyEx() failed, MessageProError=%d, %s (%s:%d)");
            SetCertificateRequestFlags(kFlagsCmc);
            MESPRO_CHECK(MakePSECertificateRequestEx(requestFile.c_str(), path.c_str(), (path + "keyn.der").c_str(), 0,
                                                     0, 2, serial.c_str(), 0),
                         "MakePSECertificateRequestEx() failed, MessageProError=%d, %s (%s:%d)");
        } catch (...) {
            FreeSignCTX(context);
            throw;
        }
        MESPRO_CHECK(PKCS7Final(), "PKCS7Final() failed, MessageProError=%d, %s (%s:%d)");
    });
}

}  // extern "C"
