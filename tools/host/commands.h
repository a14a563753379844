// zolm-host's command table. Each command file registers its commands with a static
// CommandRegistration, so a new group of commands (PC/SC, for example) is one more source file.
#pragma once

#include <vector>

#include "tools/host/command_line.h"

namespace zolm::host {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitErrorText = 1;  // the plug-in returned an error text, or the operation failed
constexpr int kExitUsage = 2;      // the command line was wrong or the plug-in could not be loaded

struct Command {
    const char *name;
    const char *synopsis;  // the options it takes, for --help
    const char *help;      // one or two lines
    int (*run)(const CommandLine &line);
};

// Every registered command and option, in registration order within each file.
std::vector<Command> &Commands();
std::vector<OptionSpec> &Options();

struct CommandRegistration {
    CommandRegistration(std::initializer_list<Command> commands, std::initializer_list<OptionSpec> options) {
        Commands().insert(Commands().end(), commands);
        Options().insert(Options().end(), options);
    }
};

}  // namespace zolm::host
