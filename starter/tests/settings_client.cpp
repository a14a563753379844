// A starter-like process for the tests: opens the settings store of a program directory and runs
// one command, so that several processes (and other users) can work on one "start.ini".
//   settings_client <program dir/> read KEY | write KEY VALUE | datafolder | versiondir VERSION
//                                  | peruser | hammer SECTION COUNT | hold
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_objects.h"
#include "starter/start_config.h"

int main(int argc, char **argv) {
    using namespace zolm::starter;
    if (argc < 3) return 2;
    std::string command = argv[2];
    try {
        if (command == "hold") {  // takes the settings mutex and keeps it until killed
            zolm::platform::NamedMutex mutex(kSettingsMutexName);
            mutex.lock();
            std::printf("held\n");
            std::fflush(stdout);
            for (;;) pause();
        }
        SettingsStore store(argv[1]);
        if (command == "read" && argc == 4) {
            std::printf("%s", store.ReadSetting(argv[3]).c_str());
        } else if (command == "write" && argc == 5) {
            store.WriteSetting(argv[3], argv[4]);
        } else if (command == "datafolder") {
            std::printf("%s", store.DataFolder().c_str());
        } else if (command == "versiondir" && argc == 4) {
            std::printf("%s", store.VersionDirectory(argv[3]).c_str());
        } else if (command == "peruser") {
            std::printf("%s", store.PerUserFile().value_or("").c_str());
        } else if (command == "hammer" && argc == 5) {  // writes SECTION.k<i>=v<i> and reads each back
            int count = std::atoi(argv[4]);
            for (int i = 0; i < count; ++i) {
                std::string key = std::string(argv[3]) + ".k" + std::to_string(i);
                store.WriteSetting(key, "v" + std::to_string(i));
                if (store.ReadSetting(key) != "v" + std::to_string(i)) {
                    std::fprintf(stderr, "lost %s\n", key.c_str());
                    return 3;
                }
            }
        } else {
            return 2;
        }
    } catch (const std::exception &e) {
        std::printf("error: %s", e.what());
        return 1;
    }
    return 0;
}
