// The C functions of the host table, forwarding to the bound HostServices. No exception leaves them.
#include "tools/host/host_services.h"

#include <cstdlib>
#include <cstring>

namespace zolm::host {
namespace {

HostServices *g_services = nullptr;

template <typename Work>
int32_t Guarded(Work &&work) noexcept {
    if (g_services == nullptr) return 0;
    try {
        return work(*g_services) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Hands out a NUL-terminated copy of text, stored through out.
bool HandOutText(HostServices &s, const std::string &text, char **out) {
    void *block = s.HandOut(text.c_str(), text.size() + 1);
    if (block == nullptr) return false;
    *out = static_cast<char *>(block);
    return true;
}

int32_t ZOLM_STDCALL GeneralRelease(uint32_t medium, void *block, uint32_t length) {
    return Guarded([&](HostServices &s) { return s.TakeBack(ReleaseBy::kGeneral, medium, block, length); });
}

int32_t ZOLM_STDCALL Confirm(uint32_t medium, const char *question) {
    return Guarded([&](HostServices &s) { return s.Confirm(medium, question ? question : ""); });
}

int32_t ZOLM_STDCALL ReadFile(uint32_t medium, const char *name, void **block, uint32_t *length) {
    return Guarded([&](HostServices &s) {
        if (name == nullptr || block == nullptr || length == nullptr) return false;
        std::string bytes;
        if (!s.ReadFile(medium, name, bytes) || bytes.size() > UINT32_MAX) return false;
        void *copy = s.HandOut(bytes.data(), bytes.size());
        explicit_bzero(bytes.data(), bytes.size());  // key files leave no copy in the host's heap
        if (copy == nullptr) return false;
        *block = copy;
        *length = static_cast<uint32_t>(bytes.size());
        return true;
    });
}

int32_t ZOLM_STDCALL WriteFile(uint32_t medium, const char *name, const void *data, uint32_t length) {
    return Guarded([&](HostServices &s) {
        if (name == nullptr || (data == nullptr && length != 0)) return false;
        return s.WriteFile(medium, name, std::string_view(static_cast<const char *>(data), data ? length : 0));
    });
}

int32_t ZOLM_STDCALL DeleteFile(uint32_t medium, const char *name) {
    return Guarded([&](HostServices &s) { return name != nullptr && s.DeleteFile(medium, name); });
}

int32_t ZOLM_STDCALL RenameFile(uint32_t medium, const char *from, const char *to) {
    return Guarded([&](HostServices &s) { return from != nullptr && to != nullptr && s.RenameFile(medium, from, to); });
}

int32_t ZOLM_STDCALL FileExists(uint32_t medium, const char *name, int32_t *exists) {
    return Guarded([&](HostServices &s) {
        if (name == nullptr || exists == nullptr) return false;
        bool present = false;
        if (!s.FileExists(medium, name, present)) return false;
        *exists = present ? 1 : 0;
        return true;
    });
}

int32_t ZOLM_STDCALL GetSerialNumber(uint32_t medium, char **text) {
    return Guarded([&](HostServices &s) {
        std::string serial;
        return text != nullptr && s.SerialNumber(medium, serial) && HandOutText(s, serial, text);
    });
}

int32_t ZOLM_STDCALL GetPath(uint32_t medium, char **text) {
    return Guarded([&](HostServices &s) {
        std::string path;
        return text != nullptr && s.Path(medium, path) && HandOutText(s, path, text);
    });
}

int32_t ZOLM_STDCALL MediumRelease(uint32_t medium, void *block, uint32_t length) {
    return Guarded([&](HostServices &s) { return s.TakeBack(ReleaseBy::kMedium, medium, block, length); });
}

int32_t ZOLM_STDCALL KeyPress(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char *pressed) {
    return Guarded([&](HostServices &s) {
        char c = 0;
        if (pressed == nullptr || !s.KeyPress(medium, wanted, value, count, c)) return false;
        *pressed = c;
        return true;
    });
}

// Never null, as the interface promises: when even the empty text cannot be handed out, a constant
// empty text is returned (TakeBack refuses it, as it refuses every block it did not hand out).
const char kNoText[] = "";

const char *ZOLM_STDCALL GetParameter(uint32_t medium, const char *name) {
    if (g_services == nullptr) return kNoText;
    try {
        char *text = nullptr;
        if (HandOutText(*g_services, g_services->Parameter(medium, name ? name : ""), &text)) return text;
    } catch (...) {
    }
    return kNoText;
}

HostGeneral g_general = {&GeneralRelease, &Confirm};
HostMedium g_medium = {
    &ReadFile, &WriteFile,    &DeleteFile, &RenameFile, &FileExists, &GetSerialNumber, {nullptr, nullptr, nullptr},
    &GetPath,  &MediumRelease};
HostKeyboard g_keyboard = {&KeyPress};
HostParameters g_parameters = {&GetParameter};
const HostTable g_table = {&g_general, &g_medium, &g_keyboard, &g_parameters};

}  // namespace

void *HostServices::HandOut(const void *data, size_t length) {
    void *block = std::malloc(length == 0 ? 1 : length);
    if (block == nullptr) return nullptr;
    if (length != 0) std::memcpy(block, data, length);
    try {
        outstanding_.emplace(block, length);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

bool HostServices::TakeBack(ReleaseBy, uint32_t, void *block, uint32_t) {
    auto it = outstanding_.find(block);
    if (it == outstanding_.end()) return false;
    // What comes back may be key material: wipe it before the heap reuses it.
    if (it->second != 0) explicit_bzero(block, it->second);
    std::free(block);
    outstanding_.erase(it);
    return true;
}

const HostTable *BindHost(HostServices *services) noexcept {
    g_services = services;
    return &g_table;
}

}  // namespace zolm::host
