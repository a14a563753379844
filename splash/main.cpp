// splash <event prefix> <picture path>: shows the picture until the keep-alive event stops, Escape is
// pressed or the process is asked to terminate; ends with exit code 0 in each case.
#include <QApplication>
#include <QFile>
#include <cstdlib>
#include <string>

#include "platform/named_objects.h"
#include "splash/splash_form.h"

namespace {

bool HasValue(const char *variable) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

}  // namespace

int main(int argc, char **argv) {
    // Taken before QApplication, which would swallow arguments that look like its own options.
    const std::string prefix = argc > 1 ? argv[1] : "";
    const QString picturePath = argc > 2 ? QFile::decodeName(argv[2]) : QString();
    const bool debug = HasValue("ZOLM_SPLASH_DEBUG");

    // Without a display there is nothing to show: end at once as a closed splash does, so the
    // starter's command removes the temporary program and no event object is left behind.
    if (!HasValue("DISPLAY") && !HasValue("WAYLAND_DISPLAY") && !HasValue("QT_QPA_PLATFORM")) {
        for (const char *suffix : {"-HIDE", "-SHOW", "-KEEP-ALIVE"}) {
            try {
                zolm::platform::NamedEvent::Remove(prefix + suffix);
            } catch (...) {
            }
        }
        if (debug) std::fputs("splash: closed (no display)\n", stderr);
        return 0;
    }

    InstallTerminationHandlers();

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // hidden or shown, the splash ends only through CloseSplash
    TForm1 form(prefix, picturePath, debug);
    form.show();
    form.raise();
    form.activateWindow();
    return app.exec();
}
