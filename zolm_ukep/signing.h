// ukep_SignData: a detached CMS signature with a certificate of the table, through the certificate's
// link to its private key.
#pragma once

#include <cstdint>

namespace ukep {

// On success with a listed id, *signature receives a malloc'ed block the caller releases with
// ukep_ReleaseMemory and its length; an unknown id stores null and 0. Raises the signing texts; on
// failure the outputs are not written.
void SignData(const char *id, const void *data, uint32_t dataLength, void **signature, uint32_t *signatureLength);

}  // namespace ukep
