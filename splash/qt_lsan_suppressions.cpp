// Sanitizer builds only: LeakSanitizer's built-in suppressions for programs that use Qt.
// fontconfig keeps its configuration and font cache for the life of the process (Qt never calls
// FcFini), which LeakSanitizer reports at exit as lost; nothing of ours hides behind this rule.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
