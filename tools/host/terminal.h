// Talking to the user on the terminal: questions, hidden password entry, single key presses.
#pragma once

#include <optional>
#include <string>

namespace zolm::host {

// True when standard input is a terminal.
bool StdinIsTerminal();
// Prints `prompt` on standard error and reads one line from standard input, without echo when it is
// a terminal. Empty at end of input.
std::string ReadSecretLine(const std::string &prompt);
// Prints `prompt` and reads a y/n answer from the terminal; anything but "y"/"yes" is no.
bool AskYesNo(const std::string &prompt);
// Reads one key press from the terminal without echo or Enter; nothing at end of input.
std::optional<char> ReadKey();

}  // namespace zolm::host
