// zolm-pcsc: the PC/SC commands of zolm-host as a program of their own.
#include <iostream>
#include <string>
#include <vector>

#include "tools/host/pcsc_commands.h"

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << "Usage: zolm-pcsc COMMAND [OPTIONS]\n\nCommands:\n" << zolm::host::PcscHelpText();
        return args.empty() ? 2 : 0;
    }
    return zolm::host::RunPcscCommand(args, std::cout, std::cerr);
}
