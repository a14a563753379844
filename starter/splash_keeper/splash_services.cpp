// Wiring of the splash keeper into the starter.
#include "starter/splash_keeper/splash_services.h"

#include "starter/last_error.h"
#include "starter/splash_keeper/splash_resource.h"
#include "starter/start_config.h"
#include "starter/temp_file.h"

namespace zolm::starter {

SplashServices StarterSplashServices() {
    SplashServices services;
    services.writeSplashProgram = [] { return WriteResourceToTempFile(kSplashResourceName, SplashResource); };
    // An empty "application.splash" names the version folder itself: the splash then shows its
    // built-in picture.
    services.splashImagePath = [] {
        return VersionDirectory(ReadSetting("versions.current")) + ReadSetting("application.splash");
    };
    services.raiseLastError = [](std::string_view call, int code) { RaiseLastError(call, code); };
    services.newGuid = NewGuidText;
    return services;
}

}  // namespace zolm::starter
