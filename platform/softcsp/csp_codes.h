// Constants of the software CSP's interface: provider names and types, parameter and key numbers, and
// the Windows error codes it reports (their documented values), so callers' error texts keep their meaning.
#pragma once

#include <cstdint>

// What libsoftcsp.so exports: its interface and the functions declared with this mark.
#define SOFTCSP_API __attribute__((visibility("default")))

namespace softcsp {

// Provider types and names.
constexpr uint32_t PROV_GOST_2001_DH = 75;
constexpr uint32_t PROV_GOST_2012_256 = 80;
constexpr uint32_t PROV_GOST_2012_512 = 81;
inline constexpr const char kProvider2012[] = "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider";
inline constexpr const char kProvider2012Strong[] =
    "Crypto-Pro GOST R 34.10-2012 Strong Cryptographic Service Provider";
inline constexpr const char kProvider2001[] = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";

// Context flags.
constexpr uint32_t CRYPT_VERIFYCONTEXT = 0xF0000000;
constexpr uint32_t CRYPT_NEWKEYSET = 0x00000008;
constexpr uint32_t CRYPT_DELETEKEYSET = 0x00000010;

// Key specifications.
constexpr uint32_t AT_KEYEXCHANGE = 1;
constexpr uint32_t AT_SIGNATURE = 2;

// The version word the CSP reports unless configured otherwise: 5.0.
constexpr uint32_t kDefaultVersion = 0x0500;

// Error codes.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr uint32_t NTE_BAD_UID = 0x80090001;
constexpr uint32_t NTE_BAD_HASH = 0x80090002;
constexpr uint32_t NTE_BAD_KEY = 0x80090003;
constexpr uint32_t NTE_BAD_DATA = 0x80090005;
constexpr uint32_t NTE_BAD_SIGNATURE = 0x80090006;
constexpr uint32_t NTE_BAD_ALGID = 0x80090008;
constexpr uint32_t NTE_BAD_FLAGS = 0x80090009;
constexpr uint32_t NTE_NO_KEY = 0x8009000D;
constexpr uint32_t NTE_NO_MEMORY = 0x8009000E;
constexpr uint32_t NTE_EXISTS = 0x8009000F;
constexpr uint32_t NTE_PERM = 0x80090010;
constexpr uint32_t NTE_BAD_PUBLIC_KEY = 0x80090015;
constexpr uint32_t NTE_BAD_KEYSET = 0x80090016;
constexpr uint32_t NTE_PROV_TYPE_NOT_DEF = 0x80090017;
constexpr uint32_t NTE_KEYSET_NOT_DEF = 0x80090019;
constexpr uint32_t NTE_PROV_TYPE_NO_MATCH = 0x8009001B;
constexpr uint32_t NTE_BAD_KEYSET_PARAM = 0x8009001F;
constexpr uint32_t NTE_FAIL = 0x80090020;
constexpr uint32_t CRYPT_E_NOT_FOUND = 0x80092004;
constexpr uint32_t CRYPT_E_EXISTS = 0x80092005;
constexpr uint32_t CRYPT_E_NO_KEY_PROPERTY = 0x8009200B;
constexpr uint32_t CRYPT_E_ASN1_BADTAG = 0x8009310B;
constexpr uint32_t SCARD_E_NO_SUCH_CERTIFICATE = 0x8010002C;
constexpr uint32_t SCARD_W_WRONG_CHV = 0x8010006B;
constexpr uint32_t SCARD_W_CANCELLED_BY_USER = 0x8010006E;

// The published name of a code ("NTE_BAD_KEYSET"), or null for a code outside the list above.
SOFTCSP_API const char *ErrorName(uint32_t code) noexcept;

}  // namespace softcsp
