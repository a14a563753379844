// The application launch. Arguments travel as an argument vector, so the quoting a Windows command
// line needs (each argument in double quotes, inner quotes escaped) is not needed: every argument
// reaches the application unchanged, blanks and quotes included.
#include "starter/start_run.h"

#include <cerrno>
#include <cstdlib>

#include "starter/authenticode.h"
#include "starter/last_error.h"

namespace zolm::starter {

void SetApplicationEnvironment(const std::string &proxyServer, const std::string &proxyUsername,
                               const std::string &proxyPassword, const std::string &cryptoUrl,
                               const std::string &splashGuid, const std::string &startDirectory) {
    const std::pair<const char *, const std::string *> variables[] = {
        {"HTTPS_PROXY_SERVER", &proxyServer},
        {"HTTPS_PROXY_USERNAME", &proxyUsername},
        {"HTTPS_PROXY_PASSWORD", &proxyPassword},
        {"CRYPTO_URL", &cryptoUrl},
        {"SPLASH_GUID", &splashGuid},
        {"START_DIRECTORY", &startDirectory},
    };
    for (const auto &[name, value] : variables)
        if (::setenv(name, value->c_str(), 1) != 0)
            RaiseLastError("SetEnvironmentVariable(\"" + std::string(name) + "\")");
}

void ApplicationLauncher::Launch(const std::string &proxyServer, const std::string &proxyUsername,
                                 const std::string &proxyPassword, const std::string &splashGuid) {
    SetApplicationEnvironment(proxyServer, proxyUsername, proxyPassword, services_.readSetting("probe.url"), splashGuid,
                              services_.programDirectory);
    std::string folder = services_.versionDirectory(services_.readSetting("versions.current"));
    std::string executable = folder + services_.readSetting("application.main");

    ProcessRequest request;
    request.argv.push_back(executable);
    request.argv.insert(request.argv.end(), arguments_.begin(), arguments_.end());
    request.currentDirectory = folder;
    pid_t pid =
        services_.isWine
            ? StartFromPath(executable, request)
            : SignedStart(executable, request, kRequiredSigner,
                          services_.roots != nullptr ? *services_.roots : platform::codesign::TrustedRoots::BuiltIn());
    if (pid < 0) RaiseLastError("CreateProcess(\"" + executable + "\")", errno);
    // The start has returned once the program runs: the Linux counterpart of waiting until it is
    // ready for input. The child is not waited for; it outlives the starter.
}

void ApplicationLauncher::RunApplication(const std::string &proxyServer, const std::string &proxyUsername,
                                         const std::string &proxyPassword, const std::string &splashGuid) {
    try {
        Launch(proxyServer, proxyUsername, proxyPassword, splashGuid);
    } catch (const std::exception &e) {
        try {
            std::string title = services_.readSetting("application.title");
            services_.showFinalError("При запуске приложения \"" + title + "\" произошла ошибка:\r\n\r\n" + e.what());
        } catch (...) {
            // Nothing is left to tell the user with; the run ends normally.
        }
    }
}

}  // namespace zolm::starter
