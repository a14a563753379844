// The splash keeper's services as the starter provides them: SPLASH_EXE written out by
// WriteResourceToTempFile, the image path from the settings store, RaiseLastError.
#pragma once

#include "starter/splash_keeper/start_splash.h"

namespace zolm::starter {

// Needs the settings store opened (OpenSettings).
SplashServices StarterSplashServices();

}  // namespace zolm::starter
