// The medium's container record, the maps and the provider cache.
#include "zolm_cp_cryptopro/container_binding.h"

#include <uuid/uuid.h>

#include <map>

#include "common/formatted_exception.h"
#include "common/key_medium.h"
#include "zolm_cp_cryptopro/cryptoapi_error.h"
#include "zolm_cp_cryptopro/csp_access.h"
#include "zolm_cp_cryptopro/texts.h"

namespace cryptopro {
namespace {

// Process-wide, keyed by serial number; nothing clears them while the plug-in is loaded.
std::map<std::string, ContainerRecord> g_names;
std::map<std::string, softcsp::ProvHandle> g_providerCache;
std::map<std::string, softcsp::ProvHandle> g_generated;

}  // namespace

void CheckCsp() {
    softcsp::Csp &csp = Csp();
    softcsp::ProvHandle handle = 0;
    if (uint32_t code = csp.AcquireContext(&handle, nullptr, softcsp::kProvider2012, softcsp::PROV_GOST_2012_256,
                                           softcsp::CRYPT_VERIFYCONTEXT))
        CRYPTOAPI_FAILURE("CryptAcquireContext", code);
    uint32_t version = 0;
    if (uint32_t code = csp.GetVersion(handle, &version)) {
        csp.ReleaseContext(handle);
        CRYPTOAPI_FAILURE("CryptGetProvParam", code);
    }
    if (version < kMinVersion || version > kMaxVersion) {
        csp.ReleaseContext(handle);
        throw formatted_exception(kUnsupportedVersion, version & 0xFFFF);
    }
    if (uint32_t code = csp.ReleaseContext(handle)) CRYPTOAPI_FAILURE("CryptReleaseContext", code);
}

ContainerRecord SplitRecord(const std::string &text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) return {text, ""};
    return {text.substr(0, slash), text.substr(slash + 1)};
}

ContainerRecord &Names(const std::string &serial) { return g_names[serial]; }

void LoadRecord(uint32_t medium) {
    std::string serial = zolm::SerialNumber(medium);
    std::string text;
    if (zolm::FileExists(medium, kRecordFile)) {
        CMemoryBufferPtr buffer = zolm::ReadFile(medium, kRecordFile);
        text.assign(reinterpret_cast<const char *>(buffer->Data()), buffer->Length());
    }
    g_names[serial] = SplitRecord(text);
}

void SaveRecord(uint32_t medium) {
    std::string serial = zolm::SerialNumber(medium);
    const ContainerRecord &names = g_names[serial];
    std::string text = names.active + "/" + names.pending;
    zolm::WriteFile(medium, kRecordFile, text.data(), text.size());
}

std::string NewContainerPath(uint32_t medium, std::string *name) {
    LoadRecord(medium);
    uuid_t guid;
    uuid_generate_random(guid);
    char text[37];
    uuid_unparse_lower(guid, text);
    *name = text;
    return std::string(kContainerPrefix) + text;
}

softcsp::ProvHandle OpenActiveContainer(uint32_t medium) {
    softcsp::Csp &csp = Csp();
    std::string serial = zolm::SerialNumber(medium);
    softcsp::ProvHandle &cached = g_providerCache[serial];
    if (cached != 0) {
        if (csp.ProbeContext(cached) == 0) return cached;
        csp.ReleaseContext(cached);
        cached = 0;
    }
    std::string active = g_names[serial].active;
    if (active.empty()) {
        LoadRecord(medium);
        active = g_names[serial].active;
    }
    std::string path = std::string(kContainerPrefix) + active;
    softcsp::ProvHandle handle = 0;
    if (uint32_t code =
            csp.AcquireContext(&handle, path.c_str(), softcsp::kProvider2012, softcsp::PROV_GOST_2012_256, 0))
        CRYPTOAPI_FAILURE("CryptAcquireContext", code);
    g_providerCache[serial] = handle;
    return handle;
}

softcsp::ProvHandle OpenPendingContainer(uint32_t medium, const char *password) {
    std::string serial = zolm::SerialNumber(medium);
    if (g_names[serial].pending.empty()) LoadRecord(medium);
    const std::string &pending = g_names[serial].pending;
    if (pending.empty()) return 0;
    softcsp::Csp &csp = Csp();
    std::string path = std::string(kContainerPrefix) + pending;
    softcsp::ProvHandle handle = 0;
    if (uint32_t code =
            csp.AcquireContext(&handle, path.c_str(), softcsp::kProvider2012, softcsp::PROV_GOST_2012_256, 0))
        CRYPTOAPI_FAILURE("CryptAcquireContext", code);
    csp.SetPin(handle, password);
    return handle;
}

softcsp::ProvHandle &GeneratedHandle(const std::string &serial) { return g_generated[serial]; }

void DropActiveHandle(const std::string &serial) {
    auto it = g_providerCache.find(serial);
    if (it == g_providerCache.end() || it->second == 0) return;
    Csp().ReleaseContext(it->second);
    it->second = 0;
}

void PromotePending(uint32_t medium) {
    std::string serial = zolm::SerialNumber(medium);
    std::string pending = g_names[serial].pending;
    if (pending.empty()) {
        LoadRecord(medium);
        pending = g_names[serial].pending;
    }
    // Activating nothing would lose the active name; it stays, and the caller learns why.
    if (pending.empty()) throw formatted_exception("%s", kNothingToActivate);
    // The old active container's handle would sign with the previous key under the new certificate.
    DropActiveHandle(serial);
    g_names[serial].pending.clear();
    g_names[serial].active = pending;
    SaveRecord(medium);
}

ProviderChoice ProviderFor(const std::string &algorithmOid) {
    std::string prefix = algorithmOid.substr(0, 17);
    if (prefix == "1.2.643.7.1.1.3.2" || prefix == "1.2.643.7.1.1.1.1")
        return {softcsp::kProvider2012, softcsp::PROV_GOST_2012_256};
    return {softcsp::kProvider2012Strong, softcsp::PROV_GOST_2012_512};
}

}  // namespace cryptopro
