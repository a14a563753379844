// The terminal-facing answers of zolm-host.
#include "tools/host/terminal_host.h"

#include <iostream>

#include "tools/host/terminal.h"

namespace zolm::host {

bool TerminalHost::Confirm(uint32_t, const std::string &question) {
    if (answer_) {
        std::cerr << question << " " << (*answer_ ? "yes" : "no") << "\n";
        return *answer_;
    }
    if (!StdinIsTerminal()) {
        std::cerr << question << " no (no terminal; use --yes or --no)\n";
        return false;
    }
    return AskYesNo(question);
}

bool TerminalHost::KeyPress(uint32_t, int32_t wanted, uint32_t, int32_t, char &pressed) {
    if (!keys_.empty()) {
        pressed = keys_.front();
        keys_.erase(0, 1);
        return true;
    }
    if (!StdinIsTerminal()) return false;
    char shown = wanted >= 33 && wanted <= 126 ? static_cast<char>(wanted) : '?';
    std::cerr << "Press \"" << shown << "\": " << std::flush;
    auto key = ReadKey();
    std::cerr << "\n";
    if (!key) return false;
    pressed = *key;
    return true;
}

std::string TerminalHost::Parameter(uint32_t, const std::string &name) {
    auto it = parameters_.find(name);
    return it == parameters_.end() ? std::string() : it->second;
}

}  // namespace zolm::host
