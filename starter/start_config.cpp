// The settings store over the profile files, under the named mutex.
#include "starter/start_config.h"

#include <cerrno>
#include <mutex>
#include <system_error>

#include "starter/env_var.h"
#include "starter/fileops.h"
#include "starter/last_error.h"
#include "starter/profile_file.h"
#include "starter/split_by.h"
#include "starter/starter_error.h"

namespace zolm::starter {
namespace {

constexpr char kMarker[] = "\x01";  // "absent from the per-user file"

struct Key {
    std::string section, name;
};

Key SplitKey(std::string_view key) {
    SplitResult parts = SplitBy(key, ".", true);
    return {parts.before, parts.after};
}

bool HasLineBreak(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

// A write must not be able to change any line but its own.
void CheckWritable(std::string_view key, const Key &parts, std::string_view value) {
    bool bad = parts.section.empty() || parts.name.empty() || HasLineBreak(parts.section) ||
               HasLineBreak(parts.name) || parts.section.find(']') != std::string::npos ||
               parts.name.find('=') != std::string::npos || parts.name[0] == '[' || parts.name[0] == ';';
    if (bad) throw StarterError("Invalid settings key \"" + std::string(key) + "\"");
    if (HasLineBreak(value))
        throw StarterError("Invalid value for settings key \"" + std::string(key) + "\": line breaks are not allowed");
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::unique_ptr<SettingsStore> g_store;

}  // namespace

SettingsStore::SettingsStore(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)), programFile_(programDirectory_ + "start.ini") {
    try {
        mutex_ = std::make_unique<platform::NamedMutex>(kSettingsMutexName);
    } catch (const std::system_error &e) {
        RaiseLastError(std::string("CreateMutex(\"") + kSettingsMutexName + "\")", e.code().value());
    }
    WriteSetting("versions.product", ReadSetting("versions.product"));
}

std::optional<std::string> SettingsStore::PerUserFile() {
    std::lock_guard<platform::NamedMutex> hold(*mutex_);
    return perUserFile_;
}

std::string SettingsStore::ReadLocked(const std::string &section, const std::string &name) {
    std::string value = perUserFile_ ? ReadProfileString(*perUserFile_, section, name, kMarker) : kMarker;
    if (value == kMarker) value = ReadProfileString(programFile_, section, name, "");
    return value;
}

std::string SettingsStore::ReadSetting(std::string_view key) {
    Key parts = SplitKey(key);
    std::lock_guard<platform::NamedMutex> hold(*mutex_);
    return ReadLocked(parts.section, parts.name);
}

void SettingsStore::WriteSetting(std::string_view key, std::string_view value) {
    Key parts = SplitKey(key);
    CheckWritable(key, parts, value);
    std::lock_guard<platform::NamedMutex> hold(*mutex_);
    if (WriteProfileString(programFile_, parts.section, parts.name, value)) return;
    if (!perUserFile_) {
        std::string folder = DataFolderLocked();
        if (!ForceDirectories(folder)) RaiseLastError("ForceDirectories(\"" + folder + "\")", errno);
        perUserFile_ = folder + "start.ini";
    }
    if (!WriteProfileString(*perUserFile_, parts.section, parts.name, value))
        throw StarterError("Unable to write to " + *perUserFile_);
}

std::string SettingsStore::DataFolderLocked() {
    std::string base = GetEnvVar("APPDATA");
    if (base.empty()) {
        std::string xdg = GetEnvVar("XDG_DATA_HOME");
        if (!xdg.empty() && xdg[0] == '/') base = xdg;
    }
    if (base.empty() && !GetEnvVar("HOME").empty()) base = WithoutTrailingSlashes(GetEnvVar("HOME")) + "/.local/share";
    if (base.empty()) base = GetEnvVar("TEMP");
    if (base.empty()) base = GetEnvVar("TMPDIR");
    if (base.empty()) base = "/tmp";
    return WithoutTrailingSlashes(base) + "/Quillmoor/" + ReadLocked("versions", "product") + "/";
}

std::string SettingsStore::DataFolder() {
    std::lock_guard<platform::NamedMutex> hold(*mutex_);
    return DataFolderLocked();
}

std::string SettingsStore::VersionDirectory(std::string_view version) {
    std::string inProgram = programDirectory_ + "VERSIONS/" + std::string(version) + "/";
    std::string dataFolder;
    {
        std::lock_guard<platform::NamedMutex> hold(*mutex_);
        if (!perUserFile_ || DirectoryExists(inProgram)) return inProgram;
        dataFolder = DataFolderLocked();
    }
    std::string versions = dataFolder + "VERSIONS/";
    if (!ForceDirectories(versions)) RaiseLastError("ForceDirectories(\"" + versions + "\")", errno);
    return versions + std::string(version) + "/";
}

void OpenSettings(const std::string &programDirectory) {
    g_store = std::make_unique<SettingsStore>(programDirectory);
}

SettingsStore &Settings() {
    if (!g_store) throw std::logic_error("settings store used before it was opened (?!)");
    return *g_store;
}

std::string ReadSetting(std::string_view key) { return Settings().ReadSetting(key); }
void WriteSetting(std::string_view key, std::string_view value) { Settings().WriteSetting(key, value); }
std::string DataFolder() { return Settings().DataFolder(); }
std::string VersionDirectory(std::string_view version) { return Settings().VersionDirectory(version); }

}  // namespace zolm::starter
