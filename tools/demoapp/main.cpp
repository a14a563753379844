// zolm-demoapp: the demonstration application. It prints the environment the starter prepared for
// it, its current folder and its arguments, one per line, and ends.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "Usage: zolm-demoapp [ARGUMENT...]\n"
            "The demonstration application the starter launches. Prints the six variables the starter\n"
            "sets (HTTPS_PROXY_SERVER, HTTPS_PROXY_USERNAME, HTTPS_PROXY_PASSWORD, CRYPTO_URL,\n"
            "SPLASH_GUID, START_DIRECTORY), its current folder and each argument in brackets.");
        return 0;
    }
    static const char *const kVariables[] = {"HTTPS_PROXY_SERVER", "HTTPS_PROXY_USERNAME", "HTTPS_PROXY_PASSWORD",
                                             "CRYPTO_URL",         "SPLASH_GUID",          "START_DIRECTORY"};
    std::printf("zolm-demoapp started\n");
    for (const char *name : kVariables) {
        const char *value = std::getenv(name);
        if (value != nullptr)
            std::printf("%s=%s\n", name, value);
        else
            std::printf("%s is not set\n", name);
    }
    char folder[4096];
    std::printf("current folder: %s\n", ::getcwd(folder, sizeof folder) != nullptr ? folder : "(unknown)");
    for (int i = 1; i < argc; ++i) std::printf("argument %d: [%s]\n", i, argv[i]);
    return 0;
}
