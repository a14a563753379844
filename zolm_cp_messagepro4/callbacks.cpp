// Key-press and password callbacks for the library. No exception leaves them: the library is C.
#include "zolm_cp_messagepro4/callbacks.h"

#include <cstring>
#include <string>

#include "common/host.h"
#include "common/result.h"
#include "platform/mespro/mespro.h"

namespace messagepro {
namespace {

constexpr int32_t kNoKey = -1;
constexpr int32_t kKeyPressCount = 40;

int32_t MESPRO_STDCALL KeyPress(int32_t wanted, uint32_t value, uint32_t, uint32_t) {
    return zolm::NoThrow(
        [&]() -> int32_t {
            if (wanted < 33 || wanted > 126) return kNoKey;  // printable characters other than the blank
            char pressed = 0;
            const HostTable &host = zolm::Host();
            if (host.keyboard->keyPress(Callbacks().keyPressMedium, wanted & 0x7F, value, kKeyPressCount, &pressed) ==
                0) {
                return kNoKey;
            }
            return static_cast<int32_t>(static_cast<signed char>(pressed));
        },
        kNoKey);
}

// Writes the password with its terminator; a password that does not fit the library's buffer is
// refused (-1) rather than cut short or written past the buffer's end.
int32_t GivePassword(const char *password, char *buffer, int32_t size) {
    if (password == nullptr) password = "";
    size_t length = std::strlen(password);
    if (buffer == nullptr || size <= 0 || length >= static_cast<size_t>(size)) return -1;
    std::memcpy(buffer, password, length + 1);
    return static_cast<int32_t>(length);
}

int32_t NewKeyPassword(char *buffer, int32_t size) {
    return zolm::NoThrow([&] { return GivePassword(Callbacks().keyPassword, buffer, size); }, -1);
}

int32_t KeyFilePassword(char *buffer, int32_t size) {
    return zolm::NoThrow(
        [&] {
            const char *name = GetKeyFileNameForPassword();
            static constexpr char kPending[] = "keyn.der";
            size_t length = name != nullptr ? std::strlen(name) : 0;
            bool pending = length >= 8 && std::memcmp(name + length - 8, kPending, 8) == 0;
            return GivePassword(pending ? Callbacks().pendingKeyPassword : Callbacks().keyPassword, buffer, size);
        },
        -1);
}

}  // namespace

CallbackState &Callbacks() {
    static CallbackState state;
    return state;
}

void InstallKeyPressCallback() { SetRandInitCallbackFun(KeyPress); }
void InstallNewKeyPasswordCallback() { SetKeysNewPasswordCallbackFun(NewKeyPassword); }
void InstallKeyFilePasswordCallback() { SetKeysPasswordCallbackFun(KeyFilePassword); }

}  // namespace messagepro
