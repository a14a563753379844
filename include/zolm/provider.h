/*
 * Crypto-provider plug-in interface: the fifteen exports of zolm_cp_messagepro4.so and
 * zolm_cp_cryptopro.so, and the host callback table a host passes to cp_Init.
 *
 * Result convention. Every function returning char* returns NULL on success, or an error text: a
 * NUL-terminated block from the plug-in's heap that the host owns and gives back with
 * cp_ReleaseMemory(text, strlen(text) + 1). Output blocks (a signature, its info text) are released
 * the same way with their length. cp_ReleaseMemory zeroes the given number of bytes before freeing.
 *
 * Host table. Every host function returns nonzero on success and 0 on failure unless noted. Blocks
 * and texts the host hands out (readFile data, getSerialNumber and getParameter texts) are copied by
 * the plug-in and given back through general.releaseMemory; the getPath text through
 * medium.releaseMemory. The plug-in keeps the table pointer from cp_Init on and never writes through it.
 *
 * Calls: cp_Init first; then any function in any order, one call at a time; cp_Done last.
 */
#ifndef ZOLM_PROVIDER_H
#define ZOLM_PROVIDER_H

#include "zolm/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A host-chosen 32-bit key-medium handle; the plug-in only hands it back to the host. */
typedef int32_t(ZOLM_STDCALL *host_release_fn)(uint32_t medium, void *block, uint32_t length);

typedef struct HostGeneral {
    host_release_fn releaseMemory;
    /* Nonzero: the user answered yes. */
    int32_t(ZOLM_STDCALL *confirm)(uint32_t medium, const char *question);
} HostGeneral;

typedef struct HostMedium {
    int32_t(ZOLM_STDCALL *readFile)(uint32_t medium, const char *name, void **block, uint32_t *length);
    int32_t(ZOLM_STDCALL *writeFile)(uint32_t medium, const char *name, const void *data, uint32_t length);
    int32_t(ZOLM_STDCALL *deleteFile)(uint32_t medium, const char *name);
    /* Must replace an existing file of the new name. */
    int32_t(ZOLM_STDCALL *renameFile)(uint32_t medium, const char *from, const char *to);
    /* Success means the question was answered; *exists is then nonzero if the file exists. */
    int32_t(ZOLM_STDCALL *fileExists)(uint32_t medium, const char *name, int32_t *exists);
    int32_t(ZOLM_STDCALL *getSerialNumber)(uint32_t medium, char **text);
    /* Host entries no plug-in calls; present so that the following entries keep their places. */
    void *reserved[3];
    /* The medium's directory, ending with "/". */
    int32_t(ZOLM_STDCALL *getPath)(uint32_t medium, char **text);
    host_release_fn releaseMemory;
} HostMedium;

typedef struct HostKeyboard {
    /* Stores one key press in *pressed; nonzero when a character was stored. */
    int32_t(ZOLM_STDCALL *keyPress)(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char *pressed);
} HostKeyboard;

typedef struct HostParameters {
    /* Host-owned text, never NULL. */
    const char *(ZOLM_STDCALL *getParameter)(uint32_t medium, const char *name);
} HostParameters;

typedef struct HostTable {
    HostGeneral *general;
    HostMedium *medium;
    HostKeyboard *keyboard;
    HostParameters *parameters;
} HostTable;

/* Constant provider descriptor; lives as long as the library is loaded. */
typedef struct ProviderInfo {
    const char *id;
    const char *title;
    const char *family;
    int32_t numbers[6];
} ProviderInfo;

/* Function types of the exports: a definition that differs from its type fails to compile. */
typedef char *(ZOLM_STDCALL cp_Init_fn)(const HostTable *host, const char *directory);
typedef void(cp_Done_fn)(void);
typedef const ProviderInfo *(cp_Info_fn)(void);
typedef char *(ZOLM_STDCALL cp_GenerateKey_fn)(uint32_t medium, const char *password, const char *paramSetOid,
                                              const char *algorithmOid);
typedef char *(ZOLM_STDCALL cp_MakeRequest_fn)(uint32_t medium, const char *password, const char *requestTemplate);
typedef char *(ZOLM_STDCALL cp_MakeRequestCMC_fn)(uint32_t medium, const char *requestTemplate,
                                                 const char *pendingPassword, const char *currentPassword,
                                                 const char *caLocation);
typedef char *(ZOLM_STDCALL cp_StoreCertificate_fn)(uint32_t medium, uint32_t unused1, uint32_t unused2,
                                                   int32_t *stored);
typedef char *(ZOLM_STDCALL cp_ActivateKey_fn)(uint32_t medium);
typedef char *(ZOLM_STDCALL cp_DeactivateKey_fn)(uint32_t medium);
typedef char *(ZOLM_STDCALL cp_DestroyKey_fn)(uint32_t medium);
typedef char *(ZOLM_STDCALL cp_CopyKey_fn)(uint32_t source, uint32_t target, int32_t *copied);
typedef char *(ZOLM_STDCALL cp_SignData_fn)(uint32_t medium, const char *password, const void *data, uint32_t length,
                                           uint32_t unused, void **signature, uint32_t *signatureLength,
                                           char **info);
typedef char *(ZOLM_STDCALL cp_CheckPassword_fn)(uint32_t medium, const char *password, int32_t *accepted);
typedef char *(ZOLM_STDCALL cp_ChangePassword_fn)(uint32_t medium, const char *currentPassword,
                                                 const char *newPassword);
typedef void(cp_ReleaseMemory_fn)(void *block, uint32_t length);

ZOLM_EXPORT cp_Init_fn cp_Init;
ZOLM_EXPORT cp_Done_fn cp_Done;
ZOLM_EXPORT cp_Info_fn cp_Info;
ZOLM_EXPORT cp_GenerateKey_fn cp_GenerateKey;
ZOLM_EXPORT cp_MakeRequest_fn cp_MakeRequest;
ZOLM_EXPORT cp_MakeRequestCMC_fn cp_MakeRequestCMC;
ZOLM_EXPORT cp_StoreCertificate_fn cp_StoreCertificate;
ZOLM_EXPORT cp_ActivateKey_fn cp_ActivateKey;
ZOLM_EXPORT cp_DeactivateKey_fn cp_DeactivateKey;
ZOLM_EXPORT cp_DestroyKey_fn cp_DestroyKey;
ZOLM_EXPORT cp_CopyKey_fn cp_CopyKey;
ZOLM_EXPORT cp_SignData_fn cp_SignData;
ZOLM_EXPORT cp_CheckPassword_fn cp_CheckPassword;
ZOLM_EXPORT cp_ChangePassword_fn cp_ChangePassword;
ZOLM_EXPORT cp_ReleaseMemory_fn cp_ReleaseMemory;

#ifdef __cplusplus
}
#endif

#endif
