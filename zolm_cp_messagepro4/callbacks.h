// The plug-in's process-wide state that the library's callbacks read, and the three callbacks.
// The password references point at the host's argument texts of the call that set them; they serve
// the callbacks the library makes during that call.
#pragma once

#include <cstdint>

namespace messagepro {

struct CallbackState {
    uint32_t keyPressMedium = 0;
    const char *keyPassword = nullptr;         // new key (cp_GenerateKey) or current key (CMC)
    const char *pendingKeyPassword = nullptr;  // "keyn.der" (requests)
};

CallbackState &Callbacks();

void InstallKeyPressCallback();
void InstallNewKeyPasswordCallback();
void InstallKeyFilePasswordCallback();

}  // namespace messagepro
