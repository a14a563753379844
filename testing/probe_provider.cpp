// probe_provider.so: a tiny provider plug-in that does no cryptography but goes through the whole
// framework (result convention, host table, key-medium operations, messages), so hosts and the ABI can
// be tested end to end. Its "key" is a text file: a password digest and the OIDs it was made with.
//   keyn.der  pending key (cp_GenerateKey), key.der  current key (cp_ActivateKey), req.pem  request.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/formatted_exception.h"
#include "common/host.h"
#include "common/key_medium.h"
#include "common/provider_exports.h"
#include "common/result.h"
#include "zolm/provider.h"

namespace {

// The probe's own texts.
const char kNoPendingKey[] = "there is no pending key on the medium";
const char kNoCurrentKey[] = "there is no current key on the medium";
const char kWrongPassword[] = "wrong password";
const char kNoPath[] = "Invalid path parameter";
const char kKeyKept[] = "the existing pending key was kept";
const char kNoData[] = "cp_SignData: no data was given";
const char kNullOutput[] = "%s: no place was given for the result";

const ProviderInfo kInfo = {"Probe", "Probe provider", "TEST", {1, 1, 0, 0, 0, 1}};

std::string Digest(const char *password) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a: a probe, not a protection
    for (const char *p = password ? password : ""; *p; ++p) hash = (hash ^ uint8_t(*p)) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string KeyText(const char *password, const std::string &rest) {
    return "password=" + Digest(password) + "\n" + rest;
}

// The key file's text; raises `absent` when the medium has none.
std::string LoadKey(uint32_t medium, const char *name, const char *absent) {
    auto key = zolm::ReadFileIfPresent(medium, name);
    if (!key) throw formatted_exception("%s", absent);
    return key->TerminatedView();
}

bool PasswordOpens(const std::string &key, const char *password) {
    return key.rfind("password=" + Digest(password) + "\n", 0) == 0;
}

void Write(uint32_t medium, const char *name, const std::string &text) {
    zolm::WriteFile(medium, name, text.data(), text.size());
}

}  // namespace

extern "C" {

char *ZOLM_STDCALL cp_Init(const HostTable *host, const char *) {
    return zolm::InitProvider(host, [] {});
}

const ProviderInfo *cp_Info(void) { return &kInfo; }

char *ZOLM_STDCALL cp_GenerateKey(uint32_t medium, const char *password, const char *paramSetOid,
                                  const char *algorithmOid) {
    return zolm::ResultOf([&] {
        // Random seeding from key presses, unless the host asks for none.
        std::string seed;
        if (zolm::HostParameter(medium, "no_key_callback") != "1") {
            const HostKeyboard *keyboard = zolm::Host().keyboard;
            for (char wanted : std::string("seed")) {
                char pressed = 0;
                if (keyboard && keyboard->keyPress && keyboard->keyPress(medium, wanted, 0, 40, &pressed))
                    seed += pressed;
            }
        }
        if (zolm::MediumPath(medium).empty()) throw formatted_exception(kNoPath);
        std::string key =
            KeyText(password, std::string("paramSet=") + (paramSetOid ? paramSetOid : "") +
                                  "\nalgorithm=" + (algorithmOid ? algorithmOid : "") + "\nseed=" + seed + "\n");
        auto buffer = CMemoryBuffer::Create(key.data(), key.size());
        if (!zolm::WriteFileAfterAsking(medium, "keyn.der", *buffer)) throw formatted_exception(kKeyKept);
    });
}

char *ZOLM_STDCALL cp_MakeRequest(uint32_t medium, const char *password, const char *requestTemplate) {
    return zolm::ResultOf([&] {
        std::string key = LoadKey(medium, "keyn.der", kNoPendingKey);
        if (!PasswordOpens(key, password)) throw formatted_exception(kWrongPassword);
        std::string body = requestTemplate ? requestTemplate : "";
        Write(medium, "req.pem",
              "-----BEGIN PROBE REQUEST-----\nserial=" + zolm::SerialNumber(medium) +
                  "\ntemplate bytes=" + std::to_string(body.size()) + "\n-----END PROBE REQUEST-----\n");
    });
}

char *ZOLM_STDCALL cp_MakeRequestCMC(uint32_t medium, const char *requestTemplate, const char *pendingPassword,
                                     const char *currentPassword, const char *caLocation) {
    return zolm::ResultOf([&] {
        std::string pending = LoadKey(medium, "keyn.der", kNoPendingKey);
        std::string current = LoadKey(medium, "key.der", kNoCurrentKey);
        if (!PasswordOpens(pending, pendingPassword) || !PasswordOpens(current, currentPassword))
            throw formatted_exception(kWrongPassword);
        std::string body = requestTemplate ? requestTemplate : "";
        Write(medium, "req.pem",
              "-----BEGIN PROBE CMC REQUEST-----\nca=" + std::string(caLocation ? caLocation : "") +
                  "\ntemplate bytes=" + std::to_string(body.size()) + "\n-----END PROBE CMC REQUEST-----\n");
    });
}

char *ZOLM_STDCALL cp_ActivateKey(uint32_t medium) {
    return zolm::ResultOf([&] { zolm::RenameFile(medium, "keyn.der", "key.der"); });
}

char *ZOLM_STDCALL cp_DeactivateKey(uint32_t medium) {
    return zolm::ResultOf([&] { zolm::DeleteFileIfPresent(medium, "key.der"); });
}

char *ZOLM_STDCALL cp_DestroyKey(uint32_t medium) {
    return zolm::ResultOf([&] { zolm::DeleteFileIfPresent(medium, "keyn.der"); });
}

char *ZOLM_STDCALL cp_CopyKey(uint32_t source, uint32_t target, int32_t *copied) {
    return zolm::ResultOf([&] {
        if (copied == nullptr) throw formatted_exception(kNullOutput, "cp_CopyKey");
        int32_t count = 0;
        for (const char *name : {"key.der", "cert.pem"}) {
            auto file = zolm::ReadFileIfPresent(source, name);
            if (file && zolm::WriteFileAfterAsking(target, name, *file)) ++count;
        }
        *copied = count;
    });
}

char *ZOLM_STDCALL cp_SignData(uint32_t medium, const char *password, const void *data, uint32_t length, uint32_t,
                               void **signature, uint32_t *signatureLength, char **info) {
    return zolm::ResultOf([&] {
        if (signature == nullptr || signatureLength == nullptr || info == nullptr)
            throw formatted_exception(kNullOutput, "cp_SignData");
        if (data == nullptr && length != 0) throw formatted_exception(kNoData);
        std::string key = LoadKey(medium, "key.der", kNoCurrentKey);
        if (!PasswordOpens(key, password)) throw formatted_exception(kWrongPassword);
        std::string bytes(static_cast<const char *>(data), data ? length : 0);
        std::string text = "PROBE SIGNATURE " + Digest((key + bytes).c_str()) + "\n";
        void *block = zolm::NewBlock(text.data(), text.size());
        char *empty = static_cast<char *>(std::malloc(1));
        if (empty == nullptr) {
            zolm::ReleaseBlock(block, static_cast<uint32_t>(text.size()));
            throw std::bad_alloc();
        }
        *empty = 0;
        *signature = block;
        *signatureLength = static_cast<uint32_t>(text.size());
        *info = empty;
    });
}

char *ZOLM_STDCALL cp_CheckPassword(uint32_t medium, const char *password, int32_t *accepted) {
    return zolm::ResultOf([&] {
        if (accepted == nullptr) throw formatted_exception(kNullOutput, "cp_CheckPassword");
        *accepted = PasswordOpens(LoadKey(medium, "key.der", kNoCurrentKey), password) ? 1 : 0;
    });
}

char *ZOLM_STDCALL cp_ChangePassword(uint32_t medium, const char *currentPassword, const char *newPassword) {
    return zolm::ResultOf([&] {
        std::string key = LoadKey(medium, "key.der", kNoCurrentKey);
        if (!PasswordOpens(key, currentPassword)) throw formatted_exception(kWrongPassword);
        Write(medium, "key.der", KeyText(newPassword, key.substr(key.find('\n') + 1)));
    });
}

}  // extern "C"
