// The CSP's folder on disk: container paths to folders, private files written atomically.
//   <root>/containers/<reader>/<name>/   one folder per key container (0700)
//   <root>/stores/<store>/               certificates of a store, "<SHA1>.cer" with "<SHA1>.link"
// Every file is 0600 and replaced by rename, so a crash never leaves half a key.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/softcsp/csp.h"

namespace softcsp {

// A container path split into its store ("reader") and name: "\\.\REGISTRY\zolm-x" and the bare
// "zolm-x" both name REGISTRY/zolm-x.
struct ContainerName {
    std::string reader;
    std::string name;
    std::string FullPath() const { return "\\\\.\\" + reader + "\\" + name; }
};

// Nothing for a path whose parts are empty or could leave the folder ("..", "/", control characters).
std::optional<ContainerName> ParseContainerPath(const std::string &path);
// Whether text may be one folder or file name of the CSP (a store or a reader name).
bool IsSafeName(const std::string &text);

class CspFolder {
public:
    explicit CspFolder(std::string root) : root_(std::move(root)) {}
    const std::string &Root() const { return root_; }

    std::string ContainerDir(const ContainerName &name) const;
    std::string StoreDir(const std::string &store) const;

    // Creates the folder and its parents (0700); false if the last one already exists or cannot be made.
    bool CreateContainerDir(const ContainerName &name) const;
    bool Exists(const std::string &path) const;
    bool RemoveTree(const std::string &path) const;
    std::vector<ContainerName> ListContainers() const;
    std::vector<std::string> ListFiles(const std::string &dir, const std::string &suffix) const;

    // Whole-file reading; nothing when the file is missing or unreadable.
    std::optional<Bytes> Read(const std::string &path) const;
    // Atomic replacement with mode 0600, parents created; false on any failure (the old file stays).
    bool Write(const std::string &path, const Bytes &data) const;
    bool Remove(const std::string &path) const;

private:
    bool MakeDirs(const std::string &dir) const;
    std::string root_;
};

}  // namespace softcsp
