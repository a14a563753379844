// start_configU: the settings store. Two "start.ini" files (the program directory's, and a per-user
// one once the program directory has proved read-only), read and written under the named mutex
// "Dovetane starter: start.ini access mutex"; the folders application versions live in.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/named_objects.h"

namespace zolm::starter {

inline constexpr char kSettingsMutexName[] = "Dovetane starter: start.ini access mutex";

class SettingsStore {
public:
    // Opens the store for a program directory (with trailing "/"): creates or opens the mutex, names
    // the program file, and runs the write test (reads "versions.product" and writes it back), which
    // switches to the per-user file when the program directory cannot be written. Raises StarterError
    // when the mutex cannot be made or the per-user write fails as well.
    explicit SettingsStore(std::string programDirectory);

    // The key's value, per-user file first; empty when absent from both. Never fails.
    std::string ReadSetting(std::string_view key);
    // Stores the value, program file first; on failure there, in the per-user file (created with its
    // folder on first need). Raises "ForceDirectories("%s")" plus the system error text, or
    // "Unable to write to %s"; a key without section and name, or a key or value with a line break,
    // raises "Invalid settings key "%s"" or "Invalid value for settings key "%s"" and writes nothing.
    void WriteSetting(std::string_view key, std::string_view value);
    // "<base>/Quillmoor/<versions.product>/": base is APPDATA when set and not empty, else
    // XDG_DATA_HOME, else HOME/.local/share, else TEMP, TMPDIR or /tmp. Creates nothing.
    std::string DataFolder();
    // "<program directory>VERSIONS/<version>/", unless the per-user file is present and that folder
    // does not exist: then "<DataFolder>VERSIONS/<version>/", after creating "<DataFolder>VERSIONS/"
    // (failure raises "ForceDirectories("%s")").
    std::string VersionDirectory(std::string_view version);

    const std::string &ProgramDirectory() const { return programDirectory_; }
    const std::string &ProgramFile() const { return programFile_; }
    // The per-user file once present (it stays present for the rest of the run).
    std::optional<std::string> PerUserFile();

private:
    std::string ReadLocked(const std::string &section, const std::string &name);
    std::string DataFolderLocked();

    std::string programDirectory_;
    std::string programFile_;
    std::optional<std::string> perUserFile_;  // guarded by mutex_
    std::unique_ptr<platform::NamedMutex> mutex_;
};

// The process's store, opened once before the start-up sequence and never closed.
void OpenSettings(const std::string &programDirectory);
SettingsStore &Settings();

// The store's operations on the process's store.
std::string ReadSetting(std::string_view key);
void WriteSetting(std::string_view key, std::string_view value);
std::string DataFolder();
std::string VersionDirectory(std::string_view version);

}  // namespace zolm::starter
