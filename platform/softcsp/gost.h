// The GOST algorithms as the CSP uses them through OpenSSL's GOST engine: parameter sets by OID, key
// generation, digests by OID, private keys to and from PKCS #8.
#pragma once

#include <cstdint>
#include <string>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/ossl.h"

namespace softcsp {

// Loads the engine once per process and makes it the default for its algorithms; false if unavailable.
bool GostReady() noexcept;

// The key algorithm a parameter set makes: 256 or 512 for GOST R 34.10-2012, 2001 for 34.10-2001;
// 0 for an OID the CSP does not know.
int ParamSetKeyKind(const std::string &oid);
// Whether a provider type makes keys of that kind, and the parameter set it uses when none was chosen.
bool ProviderMakes(uint32_t providerType, int keyKind);
std::string DefaultParamSet(uint32_t providerType);

// A new key for a known parameter set; null when the engine fails.
PkeyPtr GenerateGostKey(const std::string &paramSetOid);

// Digest for a digest OID or a signature algorithm OID, or null. keyKind: which key the OID fits.
const EVP_MD *DigestForOid(const std::string &oid, int *keyKind);
int KeyKind(const EVP_PKEY *key);

// PKCS #8 DER of a private key (the caller wipes it) and back.
Bytes PrivateKeyToDer(EVP_PKEY *key);
PkeyPtr PrivateKeyFromDer(const Bytes &der);
Bytes PublicKeyInfo(EVP_PKEY *key);

}  // namespace softcsp
