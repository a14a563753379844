// zolm-host: a command-line host for provider plug-ins. Loads a plug-in by path, gives it a host
// table over folders, and runs one cp_* function; also manages the shared data block.
#include <iostream>

#include "tools/host/commands.h"
#include "tools/host/pcsc_commands.h"

namespace zolm::host {

std::vector<Command> &Commands() {
    static std::vector<Command> commands;
    return commands;
}

std::vector<OptionSpec> &Options() {
    static std::vector<OptionSpec> options = {{"help", nullptr, "this text"}};
    return options;
}

namespace {

void PrintHelp() {
    std::cout << "Usage: zolm-host COMMAND [OPTIONS]\n\n"
                 "Runs one function of a provider plug-in over key media that are folders: the plug-in's\n"
                 "files are real files there. Prints results on standard output and the plug-in's error\n"
                 "text as \"error: TEXT\" on standard error.\n"
                 "Exit status: 0 success, 1 the plug-in returned an error text, 2 a usage error or a\n"
                 "plug-in that cannot be loaded.\n\nCommands:\n";
    for (const auto &c : Commands()) {
        std::cout << "  " << c.name;
        if (*c.synopsis) std::cout << " " << c.synopsis;
        std::cout << "\n      " << c.help << "\n";
    }
    std::cout << "\nOptions:\n";
    for (const auto &o : Options()) {
        std::string left = std::string("--") + o.name + (o.value ? std::string(" ") + o.value : "");
        std::cout << "  " << left << std::string(left.size() < 26 ? 26 - left.size() : 1, ' ') << o.help << "\n";
    }
    std::cout << "\nSmart-card commands:\n" << PcscHelpText();
    std::cout << "\nEnvironment:\n"
                 "  ZOLM_PLUGIN             the plug-in when --plugin is not given\n"
                 "  ZOLM_SHARED_DATA_NAME   the shared data block's name instead of /zolm_shared_data\n"
                 "                          (for tests that must not share one block; plug-ins read it too)\n";
}

}  // namespace
}  // namespace zolm::host

int main(int argc, char **argv) {
    using namespace zolm::host;
    // The smart-card commands parse their own arguments (hex APDUs).
    if (argc > 1 && IsPcscCommand(argv[1]))
        return RunPcscCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    try {
        CommandLine line = CommandLine::Parse(argc, argv, Options());
        if (line.Has("help") || line.Command() == "help") {
            PrintHelp();
            return kExitOk;
        }
        if (line.Command().empty()) throw UsageError("no command given");
        for (const auto &c : Commands())
            if (line.Command() == c.name) return c.run(line);
        throw UsageError("unknown command " + line.Command());
    } catch (const UsageError &e) {
        std::cerr << "zolm-host: " << e.what() << " (see zolm-host --help)\n";
        return kExitUsage;
    } catch (const std::exception &e) {
        std::cerr << "zolm-host: " << e.what() << "\n";
        return kExitUsage;
    }
}
