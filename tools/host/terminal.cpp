// Terminal input with echo switched off where it must not show (passwords, key presses).
#include "tools/host/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace zolm::host {
namespace {

// Restores the terminal's settings when it leaves scope, also on an exception.
class TerminalMode {
public:
    explicit TerminalMode(tcflag_t clear) {
        active_ = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (!active_) return;
        termios changed = saved_;
        changed.c_lflag &= ~clear;
        changed.c_cc[VMIN] = 1;
        changed.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &changed);
    }
    ~TerminalMode() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }

private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

std::string ReadSecretLine(const std::string &prompt) {
    std::cerr << prompt << std::flush;
    std::string line;
    {
        TerminalMode noEcho(ECHO);
        std::getline(std::cin, line);
    }
    if (StdinIsTerminal()) std::cerr << "\n";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool AskYesNo(const std::string &prompt) {
    std::cerr << prompt << " [y/N] " << std::flush;
    std::string line;
    std::getline(std::cin, line);
    return line == "y" || line == "Y" || line == "yes";
}

std::optional<char> ReadKey() {
    TerminalMode raw(ECHO | ICANON);
    char c = 0;
    ssize_t n;
    do n = ::read(STDIN_FILENO, &c, 1);
    while (n < 0 && errno == EINTR);
    if (n != 1) return std::nullopt;
    return c;
}

}  // namespace zolm::host
