/*
 * libmespro: the Message-PRO cryptographic library of this platform. A directory-based key store,
 * password-protected GOST (and RSA) private keys, PKCS #10 and CMC certificate requests and CMS
 * signatures, on OpenSSL 3 with the GOST engine.
 *
 * Conventions. Functions returning int return 0 on success or one of the MESPRO_E_* codes below;
 * the code of the last failure is also kept for GetMessageProLastError. Texts are NUL-terminated
 * UTF-8. The library keeps process-wide state between PKCS7Init and PKCS7Final and is not
 * thread-safe: one call at a time. Blocks the library hands out (GetCertificateSerialBuffer,
 * SignBufferEx) are owned by the caller until given back with FreeBuffer.
 *
 * Files of a key directory: "mk.db3", "masks.db3", "kek.opq", "rand.opq" form the key store that
 * PSE_Generation creates and PSE_Copy copies; private key files are PKCS #8 EncryptedPrivateKeyInfo
 * (DER, PBES2 with AES-256-CBC), "rand.opq" also carries the random seed between runs.
 */
#ifndef MESPRO_H
#define MESPRO_H

#include <stdint.h>

#if defined(__i386__)
#define MESPRO_STDCALL __attribute__((stdcall))
#else
#define MESPRO_STDCALL
#endif

#if defined(MESPRO_BUILDING)
#define MESPRO_API __attribute__((visibility("default")))
#else
#define MESPRO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Failure codes (a subset of the Message-PRO code table; 0 is success). */
enum {
    MESPRO_E_NO_MEMORY = 103,
    MESPRO_E_SIGNER_CERT = 104, /* signer's certificate missing or unreadable */
    MESPRO_E_NO_KEY_FILE = 106, /* no key file named */
    MESPRO_E_KEY_READ = 107,    /* key file missing or unreadable */
    MESPRO_E_INPUT = 112,       /* bad input data */
    MESPRO_E_OUTPUT = 114,      /* output could not be written */
    MESPRO_E_SIGNER_INFO = 115, /* signer's certificate does not match the key */
    MESPRO_E_SIGN_INIT = 118,
    MESPRO_E_SIGN_FINAL = 119,
    MESPRO_E_KEY_WRITE = 143,
    MESPRO_E_KEYGEN = 144,
    MESPRO_E_NAME = 145,             /* unknown subject attribute or bad value */
    MESPRO_E_SIGNER_NOT_FOUND = 129, /* no known certificate with the signer's serial number */
    MESPRO_E_REQUEST_SIGN = 147,
    MESPRO_E_NO_REQUEST_FILE = 148,
    MESPRO_E_REQUEST_WRITE = 149,
    MESPRO_E_REQUEST_FLAGS = 150,
    MESPRO_E_NULL = 159, /* a null pointer where a value is needed */
    MESPRO_E_NOT_INITIALISED = 161,
    MESPRO_E_CA_READ = 164,
    MESPRO_E_RAND_WRITE = 165,
    MESPRO_E_CERT_READ = 166,
    MESPRO_E_ALGORITHM = 167,      /* unknown key algorithm name */
    MESPRO_E_WRONG_PASSWORD = 168, /* the key does not open with the password */
    MESPRO_E_STORE_COPY = 177,     /* no key store in the source directory */
    MESPRO_E_CRYPTO_INIT = 178,    /* OpenSSL or its GOST engine could not be set up */
    MESPRO_E_STORE_CREATE = 179,
    MESPRO_E_STORE_EXISTS = 180,
    MESPRO_E_ABORTED = 184,
    MESPRO_E_REQUEST_KEY_MISSING = 171, /* no key file named for the request */
    MESPRO_E_REQUEST_KEY_READ = 172,    /* the request's key file missing or unreadable */
    MESPRO_E_REQUEST_ENCODE = 188,
    MESPRO_E_KEY_DECODE = 191, /* key file is not an encrypted private key */
    MESPRO_E_FILE_COPY = 194,
    MESPRO_E_NOT_SUPPORTED = 202,
    MESPRO_E_EXTENSION = 203, /* bad extension value (OID, flags) */
    MESPRO_E_INTERNAL = 212,
    MESPRO_E_KEY_NOT_LOADED = 215
};

/*
 * Key-press callback: the library asks for `wanted` (a printable character) while it seeds its
 * random generator; `remaining` counts the presses still wanted including this one. Returns the
 * character pressed, or -1 when none was (the library then seeds from the system alone).
 */
typedef int32_t(MESPRO_STDCALL *MesproKeyPressFn)(int32_t wanted, uint32_t remaining, uint32_t reserved1,
                                                  uint32_t reserved2);
/*
 * Password callbacks: write the password and its terminator into buffer (size bytes) and return
 * its length. A negative result, or a length that does not fit, refuses the operation.
 */
typedef int32_t (*MesproPasswordFn)(char *buffer, int32_t size);

/* Library session. PKCS7Init(directory or NULL, 0) starts; PKCS7Final ends and forgets loaded keys,
 * certificates and sign contexts. Installed callbacks and request settings outlive both. */
MESPRO_API int32_t PKCS7Init(const char *directory, int32_t flags);
MESPRO_API int32_t PKCS7Final(void);
MESPRO_API int32_t GetMessageProLastError(void);

/* Nonzero when signature (a DER CMS SignedData, detached) signs the file at libraryPath with a
 * code-signing certificate that chains to a root compiled into the library; 0 otherwise. */
MESPRO_API int32_t VerifyDevelopersSign(const char *libraryPath, const void *signature, int32_t length);

/* Callbacks; each replaces the previous one, NULL removes it. */
MESPRO_API int32_t SetRandInitCallbackFun(MesproKeyPressFn callback);
MESPRO_API int32_t SetKeysNewPasswordCallbackFun(MesproPasswordFn callback);
MESPRO_API int32_t SetKeysPasswordCallbackFun(MesproPasswordFn callback);
/* The key file whose password the library asks for; valid during a password callback. */
MESPRO_API const char *GetKeyFileNameForPassword(void);

/* Key store of a directory. replace: 1 lets PSE_Copy replace a key store in the target. */
MESPRO_API int32_t PSE_Generation(const char *directory, int32_t reserved1, int32_t reserved2,
                                  int32_t seedFromKeyboard);
MESPRO_API int32_t PSE_Copy(const char *sourceDirectory, int32_t reserved, const char *targetDirectory,
                            int32_t replace);

/* Key algorithm of new keys: "ECR3410" (default: GOST R 34.10-2012 256 bits, CryptoPro A set),
 * "GOST3410-2012-256-{A,B,C}-ParamSet", "GOST3410-2012-512-{A,B}-ParamSet",
 * "CryptoPro-GostR3410-2001-{B,C,XchA,XchB}-ParamSet" (GOST R 34.10-2001), "RSA" (2048 bits). */
MESPRO_API int32_t SetNewKeysAlgorithm(const char *name);
/* Generates a key pair; writes the private key to keyFile under the new-key password callback's
 * password (empty without a callback). requestFile must be empty: requests are made separately. */
MESPRO_API int32_t NewKeysGenerationEx(const char *directory, int32_t reserved1, const char *keyFile,
                                       const char *requestFile, int32_t reserved2);
/* Loads the private key of keyFile for signing; 0 exactly when it opens with password. */
MESPRO_API int32_t AddPSEPrivateKeyEx(const char *directory, int32_t reserved, const char *keyFile,
                                      const char *password);
MESPRO_API int32_t ChangePrivateKeyPasswordEx(const char *directory, int32_t reserved, const char *keyFile,
                                              const char *currentPassword, const char *newPassword);

/* Request settings, kept until reset. Code page 1 is UTF-8, the only one supported. */
MESPRO_API int32_t SetInputCodePage(int32_t codePage);
MESPRO_API int32_t SetOutputCodePage(int32_t codePage);
MESPRO_API int32_t ResetDistinguishedName(void);
MESPRO_API int32_t ResetExtensions(void);
/* Flags: 8 subject values as UTF8String where the attribute allows; 2 PKCS #10; 0x10 CMC. */
MESPRO_API int32_t SetCertificateRequestFlags(int32_t flags);
/* attribute: a dotted OID or a name (commonName, INN, SNILS, ...); appended in call order. */
MESPRO_API int32_t SetDistinguishedNameAttribute(const char *attribute, const char *value);
/* Key usage bits: 0x001 digitalSignature ... 0x100 decipherOnly. */
MESPRO_API int32_t SetKeyUsage(int32_t flags, int32_t critical);
MESPRO_API int32_t AddExtendedKeyUsage(const char *oid, int32_t critical);
MESPRO_API int32_t AddCertificatePolicy(const char *oid, int32_t critical);
MESPRO_API int32_t SetBasicConstraints(int32_t ca, int32_t critical);
/* Adds the subject sign tool extension (1.2.643.100.111) naming this library. */
MESPRO_API int32_t SetSubjectSignTool(void);
/* Writes a PEM PKCS #10 request for the key of keyFile (password through the key-file callback). */
MESPRO_API int32_t MakePSECertificateRequest(const char *requestFile, const char *directory, const char *keyFile,
                                             int32_t reserved1, int32_t reserved2);
/* Writes a PEM CMC request (CMS SignedData over PKIData holding the PKCS #10 request for keyFile),
 * signed with the loaded private key and the known certificate of signerSerial (signerMode 2). */
MESPRO_API int32_t MakePSECertificateRequestEx(const char *requestFile, const char *directory, const char *keyFile,
                                               int32_t reserved1, int32_t reserved2, int32_t signerMode,
                                               const char *signerSerial, int32_t reserved3);

/* Certificates. AddCAs loads every certificate file (PEM or DER) of a folder; a missing folder
 * adds none. A relative location is taken from the current directory. */
MESPRO_API int32_t AddCAs(const char *location);
MESPRO_API int32_t AddCertificateFromBuffer(const void *data, int32_t length);
/* The certificate's serial number as upper-case hexadecimal; free with FreeBuffer. NULL on failure. */
MESPRO_API char *GetCertificateSerialBuffer(const void *data, int32_t length);
MESPRO_API void FreeBuffer(void *block);

/* Signing. A sign context lives until FreeSignCTX or the end of the session. */
MESPRO_API void *GetSignCTX(void);
MESPRO_API int32_t FreeSignCTX(void *context);
/* signerMode 0: signer is a certificate file path; 2: a serial number from GetCertificateSerialBuffer. */
MESPRO_API int32_t AddSigner(void *context, int32_t signerMode, const char *signer, int32_t reserved);
/* 1: include the signer's certificate (and its CA chain as far as known); 0: none. */
MESPRO_API int32_t InsertCertificateToSign(int32_t insert);
/* 1: include the signing time as a signed attribute (the only setting supported). */
MESPRO_API int32_t InsertSigningTimeToSign(int32_t insert);
/* DER CMS SignedData over the data; attached 1 carries the data inside, 0 makes it detached. */
MESPRO_API int32_t SignBufferEx(void *context, const void *data, int32_t length, void **output, int32_t *outputLength,
                                int32_t attached);

#ifdef __cplusplus
}
#endif

#endif
