// start_runU: the launch of the current version's application with the connection settings of the
// run in its environment and the starter's own arguments.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/codesign/code_signature.h"
#include "starter/stages.h"

namespace zolm::starter {

// What the launch needs from the rest of the starter; main wires the real ones.
struct LaunchServices {
    std::function<std::string(std::string_view)> readSetting;
    std::function<std::string(std::string_view)> versionDirectory;  // with trailing "/"
    std::string programDirectory;                                   // with trailing "/"
    // The error dialog in its final form (the splash goes for good).
    std::function<void(const std::string &)> showFinalError;
    bool isWine = false;
    const platform::codesign::TrustedRoots *roots = nullptr;  // null: the built-in roots
};

// Sets the six variables of the application's environment in the starter's own environment:
// "HTTPS_PROXY_SERVER", "HTTPS_PROXY_USERNAME", "HTTPS_PROXY_PASSWORD", "CRYPTO_URL" (the setting
// "probe.url"), "SPLASH_GUID" and "START_DIRECTORY". Empty values stay set, as empty variables.
void SetApplicationEnvironment(const std::string &proxyServer, const std::string &proxyUsername,
                               const std::string &proxyPassword, const std::string &cryptoUrl,
                               const std::string &splashGuid, const std::string &startDirectory);

class ApplicationLauncher : public LaunchStage {
public:
    // arguments: the starter's own command-line arguments (without the program name).
    ApplicationLauncher(LaunchServices services, std::vector<std::string> arguments)
        : services_(std::move(services)), arguments_(std::move(arguments)) {}

    // RunApplication: the environment, then the version folder's "application.main" started in that
    // folder through the signed start (directly under Wine), each of the starter's arguments passed
    // as one argument exactly as it came; returns once the program runs. Every failure is shown
    // with "При запуске приложения "%s" произошла ошибка:\r\n\r\n%s"; nothing escapes.
    void RunApplication(const std::string &proxyServer, const std::string &proxyUsername,
                        const std::string &proxyPassword, const std::string &splashGuid) override;

private:
    void Launch(const std::string &proxyServer, const std::string &proxyUsername, const std::string &proxyPassword,
                const std::string &splashGuid);

    LaunchServices services_;
    std::vector<std::string> arguments_;
};

}  // namespace zolm::starter
