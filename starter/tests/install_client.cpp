// install_client <program directory/> <answer file>: installs the answer's version over the current
// one as the update check does, so tests can kill a real installation at any moment.
#include <cstdio>
#include <exception>

#include "starter/install_version.h"
#include "starter/start_config.h"
#include "starter/temp_file.h"

int main(int argc, char **argv) {
    using namespace zolm::starter;
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_client PROGRAM_DIRECTORY/ ANSWER_FILE\n");
        return 2;
    }
    try {
        OpenSettings(argv[1]);
        SecureBytes bytes = ReadWholeFile(argv[2]);
        PatchDocument answer = PatchDocument::Parse(bytes.data(), bytes.size());
        InstallVersion(ReadSetting("versions.current"), answer.SelectText("/response/patch/@version").value_or(""),
                       answer, false);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "install_client: %s\n", e.what());
        return 1;
    }
}
