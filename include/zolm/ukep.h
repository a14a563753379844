/*
 * UKEP library zolm_ukep.so: lists the user's certificates fit for qualified electronic signatures
 * (the software CSP's key containers and its personal store "My") and makes detached CMS signatures
 * with a listed certificate.
 *
 * Result convention. Every function returning char* returns NULL on success, or an error text: a
 * NUL-terminated UTF-8 text in a block of the library's heap, given back with
 * ukep_ReleaseMemory(text, strlen(text) + 1). Output blocks (the list, a signature) are released the
 * same way with their length. The release functions zero that many bytes before freeing.
 *
 * Calling order: ukep_Init first; then ukep_EnumerateCertificates and ukep_SignData (signing finds only
 * certificates of the last enumeration); ukep_Done last. The library takes no locks: one call at a time.
 *
 * The certificate list. One line per certificate, in ascending byte order of the id, lines joined by a
 * single ",", nothing before the first or after the last; no certificate gives the empty text. A line:
 *
 *     <id>:<B64 displayName>|<notBefore><notAfter>|<B64 subjectJson>|<B64 shortName>|<B64 issuerName>
 *
 *   id           40 upper-case hexadecimal digits of the certificate's SHA-1 thumbprint (empty when
 *                ukep_Init did not succeed);
 *   notBefore,   the validity as Windows file times (100-ns intervals since 1601-01-01 UTC), each as
 *   notAfter     16 upper-case hexadecimal digits, most significant first;
 *   subjectJson  the subject as a JSON array of {"OID":name,"OIDCODE":dotted OID,"VALUE":value} in
 *                encoding order; name is the attribute's name (countryName, commonName, surname,
 *                givenName, INN, OGRN, SNILS, ORGNIP, ...) or the dotted OID when it has none; in the
 *                value only a double quote is escaped (as \"), backslashes pass unchanged;
 *   shortName    surname, one space, given name (a single space when the subject has neither);
 *   issuerName   the issuer's commonName (the last one when there are several); empty for a
 *                certificate found only in a key container.
 * B64 is standard Base64 (RFC 4648, "=" padding, no line breaks) of the UTF-8 bytes; an empty text
 * gives an empty field. So ":", "|" and "," only ever appear as separators.
 */
#ifndef ZOLM_UKEP_H
#define ZOLM_UKEP_H

#include "zolm/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens the library's verification context on the provider "Crypto-Pro GOST R 34.10-2001 Cryptographic
 * Service Provider" (type 75) and checks the CSP version (4.x and 5.x, 0x0400 to 0x05FF, are accepted).
 * The argument is ignored. Errors: "Ошибка вызова функции CryptAcquireContext 0x%08X",
 * "Ошибка вызова функции CryptGetProvParam 0x%08X", "Неизвестная версия КриптоПРО CSP: 0x%04X".
 */
typedef char *(ZOLM_STDCALL ukep_Init_fn)(void *unused);

/*
 * Rebuilds the certificate table from the key containers and the store "My" (a certificate found in
 * both is listed once, with the store's values) and hands out the list above. On success *list receives
 * a block of *length + 1 bytes (the list and a NUL; a one-byte block for the empty list), released with
 * ukep_ReleaseMemory(*list, *length). On failure neither output is written and the previous table stays.
 * Enumeration reads certificates only: it never opens a private key or asks for a PIN.
 */
typedef char *(ZOLM_STDCALL ukep_EnumerateCertificates_fn)(char **list, int32_t *length);

/*
 * Signs data with the listed certificate of that id (exact, upper-case) through its link to the
 * private key: a detached CMS SignedData (DER) carrying the certificate. When the key needs a PIN the
 * user is asked with the desktop's pinentry program; where no pinentry can be shown, or the user
 * cancels, the signature fails with "Действие отменено пользователем". On success *signature receives
 * a block released with ukep_ReleaseMemory(*signature, *signatureLength). An id not in the table is no
 * error: *signature receives NULL and *signatureLength 0. Errors: "Отсутствует ключ ЭП (проверьте
 * подключен ли токен)", "Контейнер ключа ЭП не существует или пользователь отказался от подписи",
 * "У сертификата отсутствует ключ ЭП", "Действие отменено пользователем",
 * "Ошибка выработки ЭП на этапе подготовки 0x%08X", "Ошибка выработки ЭП 0x%08X". On failure the
 * outputs are not written.
 */
typedef char *(ZOLM_STDCALL ukep_SignData_fn)(const char *id, const void *data, uint32_t dataLength,
                                              void **signature, uint32_t *signatureLength);

/*
 * Releases the library context and every provider handle the table holds (each once). The table's
 * certificates stay usable by ukep_SignData until the next enumeration. Calling it again is harmless.
 */
typedef char *(ZOLM_STDCALL ukep_Done_fn)(void);

/* Zeroes the first `length` bytes of a block the library handed out, then frees it. NULL is ignored. */
typedef void(ZOLM_STDCALL ukep_ReleaseMemory_fn)(void *block, int32_t length);

ZOLM_EXPORT ukep_Init_fn ukep_Init;
ZOLM_EXPORT ukep_EnumerateCertificates_fn ukep_EnumerateCertificates;
ZOLM_EXPORT ukep_SignData_fn ukep_SignData;
ZOLM_EXPORT ukep_Done_fn ukep_Done;
ZOLM_EXPORT ukep_ReleaseMemory_fn ukep_ReleaseMemory;

#ifdef __cplusplus
}

/*
 * The same as ukep_ReleaseMemory under the provider plug-ins' name. It keeps C++ linkage, so its
 * symbol is the decorated name "cp_ReleaseMemory(void*, unsigned int)" (_Z16cp_ReleaseMemoryPvj);
 * a C host finds it with dlsym under that name.
 */
ZOLM_EXPORT void ZOLM_STDCALL cp_ReleaseMemory(void *block, uint32_t length);
#endif

#endif
