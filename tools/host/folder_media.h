// Key media as folders: each medium handle names a folder, and the plug-in's files are real files in
// it. Shared by the host tool and the test host; what to answer to questions, key presses and
// parameters is left to them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "tools/host/host_services.h"

namespace zolm::host {

class FolderMedia : public HostServices {
public:
    // Registers a folder (made absolute; it need not exist yet) as medium `handle`.
    void AddMedium(uint32_t handle, const std::filesystem::path &folder);
    // Replaces the derived serial number of a medium.
    void SetSerialNumber(uint32_t handle, const std::string &serial);
    // The folder of a medium, or an empty path for an unknown handle.
    std::filesystem::path Folder(uint32_t handle) const;

    // A file name must be a bare name: no "/", not "." or "..", not empty. Anything else fails, so a
    // plug-in can never reach outside its medium's folder.
    static bool IsBareName(const std::string &name);
    // The serial number of a folder: "FM-" and 16 hex digits of a hash of its canonical path, so the
    // same folder always has the same serial number and nothing is stored in it.
    static std::string DerivedSerialNumber(const std::filesystem::path &folder);

    bool ReadFile(uint32_t medium, const std::string &name, std::string &bytes) override;
    // Replaces the file atomically (temporary file in the folder, then rename), mode 0600.
    bool WriteFile(uint32_t medium, const std::string &name, std::string_view bytes) override;
    bool DeleteFile(uint32_t medium, const std::string &name) override;
    // Replaces an existing file of the new name.
    bool RenameFile(uint32_t medium, const std::string &from, const std::string &to) override;
    bool FileExists(uint32_t medium, const std::string &name, bool &exists) override;
    bool SerialNumber(uint32_t medium, std::string &text) override;
    // The folder with a trailing "/".
    bool Path(uint32_t medium, std::string &text) override;

private:
    // The path of a file on a medium; false for an unknown medium or a name that is not bare.
    bool FileOf(uint32_t medium, const std::string &name, std::filesystem::path &file) const;

    std::map<uint32_t, std::filesystem::path> folders_;
    std::map<uint32_t, std::string> serials_;
};

}  // namespace zolm::host
