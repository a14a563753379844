// Asking the user for a key's PIN the way a Linux desktop does: the pinentry program of GnuPG,
// spoken to over its Assuan pipe protocol.
#pragma once

#include <optional>
#include <string>

namespace ukep {

class PinPrompt {
public:
    virtual ~PinPrompt() = default;
    // The PIN the user typed, or nothing when asking is impossible or the user cancelled. error, when
    // not empty, tells the user why they are asked again.
    virtual std::optional<std::string> Ask(const std::string &description, const std::string &error) = 0;
};

// The process's prompt: pinentry (the program named by $ZOLM_PINENTRY, else "pinentry" on the PATH),
// shown only where a desktop is (DISPLAY or WAYLAND_DISPLAY set) unless $ZOLM_PINENTRY names it.
PinPrompt &Prompt();
// For tests: the prompt to use from now on (not owned); null goes back to pinentry.
void UsePrompt(PinPrompt *prompt);

}  // namespace ukep
