// The operations behind the exports (the exports only add the result convention).
#pragma once

#include <cstdint>

#include "zolm_cp_cryptopro/request_der.h"

namespace cryptopro {

// cp_GenerateKey: a new container for the medium, recorded as pending, with a signature key under
// password; its handle is kept for the request.
void GenerateKey(uint32_t medium, const char *password, const char *paramSetOid, const char *algorithmOid);
// cp_MakeRequest: "req.pem" for the key generated last, from the certification server's template.
// When this process did not generate it (a host that runs one call per process, or a second request),
// the pending container is opened with the pending key's password instead.
void MakeRequest(uint32_t medium, const char *password, const char *requestTemplate);
// The same with the template already read.
void MakeRequest(uint32_t medium, const char *password, const RequestContent &content);

// cp_SignData: detached CMS with the active container and "cert.pem". Outputs are set only on success;
// both blocks are the caller's, released with cp_ReleaseMemory.
void SignData(uint32_t medium, const char *password, const void *data, uint32_t length, void **signature,
              uint32_t *signatureLength, char **info);
// cp_CheckPassword: *accepted 1 when the active container takes the password, else 0.
void CheckPassword(uint32_t medium, const char *password, int32_t *accepted);
// cp_ChangePassword.
void ChangePassword(uint32_t medium, const char *currentPassword, const char *newPassword);

// The digest OID for a certificate's public key algorithm; raises the incorrect-algorithm text.
const char *DigestForPublicKey(const std::string &publicKeyAlgorithmOid);

// The request settings of a template text (the framework's reader); raises the reader's texts.
RequestContent ReadRequestContent(const char *requestTemplate);

}  // namespace cryptopro
