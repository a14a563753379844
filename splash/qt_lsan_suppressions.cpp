// Sanitizer builds only: LeakSanitizer's built-in suppressions for programs that use Qt. Both rules
// name libraries that keep process-lifetime state Qt never releases, which LeakSanitizer reports at
// exit as lost; nothing of ours hides behind them:
// - fontconfig keeps its configuration and font cache (Qt never calls FcFini);
// - libdbus keeps the buffers of the session-bus connection Qt's xcb platform opens for the desktop
//   theme and accessibility (only on a real X display).
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
