// InstallVersion and its steps. The working folder is the only place written; entry names are
// checked before use and no entry reaches through a symbolic link, so nothing lands outside it.
#include "starter/install_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "platform/named_objects.h"
#include "starter/authenticode.h"
#include "starter/file_sha1.h"
#include "starter/fileops.h"
#include "starter/last_error.h"
#include "starter/process_start.h"
#include "starter/random_text.h"
#include "starter/start_config.h"
#include "starter/starter_error.h"
#include "starter/startup.h"

namespace zolm::starter {
namespace {

constexpr char kNullDevice[] = "/dev/null";

std::string Call(const char *name, const std::string &path) { return std::string(name) + "(\"" + path + "\")"; }

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

const platform::codesign::TrustedRoots &RootsOf(const PatchTool &tool) {
    return tool.roots != nullptr ? *tool.roots : platform::codesign::TrustedRoots::BuiltIn();
}

// Refuses a name whose path below the folder passes through a symbolic link (one copied from the
// current version may point anywhere); parts that do not exist yet are fine.
void RefuseLinks(const std::string &folder, const std::string &relative) {
    for (size_t at = relative.find('/');; at = relative.find('/', at + 1)) {
        std::string part = folder + "/" + relative.substr(0, at);
        struct stat st {};
        if (::lstat(part.c_str(), &st) != 0) {
            if (errno == ENOENT) return;
            RaiseLastError(Call("GetFileAttributes", part), errno);
        }
        if (S_ISLNK(st.st_mode)) throw StarterError("the file path passes through a symbolic link (?!)");
        if (at == std::string::npos) return;
    }
}

// The patch format carries no file modes: an added program or script gets the execute bits its
// read bits allow, so that a version built from a full download can be started.
void GiveExecuteBitsToPrograms(const std::string &path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.Valid()) RaiseLastError(Call("CreateFile", path), errno);
    char head[4] = {};
    ssize_t got = ::pread(fd.Get(), head, sizeof head, 0);
    bool program = (got == 4 && std::string_view(head, 4) ==
                                    "\x7f"
                                    "ELF") ||
                   (got >= 2 && head[0] == '#' && head[1] == '!');
    if (!program) return;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) RaiseLastError(Call("SetFileAttributes", path), errno);
    mode_t mode = (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2);
    if (::fchmod(fd.Get(), mode) != 0) RaiseLastError(Call("SetFileAttributes", path), errno);
}

// The patch tool of one patch: checked at its first start (an answer whose entries are all done
// already never starts it), then started from the verified copy for every further entry.
class Patcher {
public:
    Patcher(const std::string &path, const PatchTool &tool) : path_(path), tool_(tool) {}

    int Run(const std::string &oldFile, const std::string &newFile, const std::string &patchFile) {
        ProcessRequest request{{path_, oldFile, newFile, patchFile}, "", true};
        pid_t pid;
        if (IsWine()) {
            pid = StartFromPath(path_, request);
        } else {
            if (!program_) program_.emplace(path_, kRequiredSigner, RootsOf(tool_));
            pid = program_->Start(request);
        }
        if (pid < 0) RaiseLastError(Call("CreateProcess", path_), errno);
        return WaitForExit(pid);
    }

private:
    const std::string &path_;
    const PatchTool &tool_;
    std::optional<VerifiedProgram> program_;
};

// Step 6 of an entry: the patch data into a temporary file, the tool, the digest of the result.
void Apply(const PatchEntry &entry, const std::string &oldFile, const std::string &newFile, const std::string &expected,
           Patcher &patcher) {
    std::string patchFile = CreateTempFile();
    try {
        SecureBytes data = entry.DecodeData();
        WriteWholeFile(patchFile, data.data(), data.size(), true, false);  // temporary: no flush
        data.Wipe();
        int code = patcher.Run(oldFile, newFile, patchFile);
        if (code != 0)
            throw StarterError("программа применения патча вернула код возврата " + std::to_string(code) + ".");
    } catch (...) {
        ::unlink(patchFile.c_str());
        throw;
    }
    ::unlink(patchFile.c_str());
    if (FileSha1(newFile) != expected)
        throw StarterError("после обновления файла контрольная сумма не совпадает с ожидаемой.");
}

// Renames a folder to a name that must not exist. File systems without RENAME_NOREPLACE get the
// check and the rename apart.
bool MoveFolder(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string CheckRelativePath(const std::string &name) {
    if (name.empty()) throw StarterError("empty file path (?!)");
    auto plain = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    };
    bool valid = plain(name.front()) && (name.size() == 1 || plain(name.back()));
    for (char c : name) valid = valid && (plain(c) || c == '.' || c == '/');
    valid = valid && name.find("..") == std::string::npos && name.find("//") == std::string::npos;
    if (!valid) throw StarterError("invalid file path (?!)");
    return name;
}

int RunPatcher(const std::string &toolPath, const std::string &oldFile, const std::string &newFile,
               const std::string &patchFile, const PatchTool &tool) {
    return Patcher(toolPath, tool).Run(oldFile, newFile, patchFile);
}

namespace {

void ApplyEntryWith(const std::string &currentFolder, const std::string &workingFolder, const PatchEntry &entry,
                    Patcher &patcher) {
    const std::string relative = CheckRelativePath(entry.Attribute("name").value_or(""));
    try {
        RefuseLinks(workingFolder, relative);
        const std::string mode = entry.Mode();
        std::string oldFile = currentFolder + "/" + relative;
        const std::string newFile = workingFolder + "/" + relative;
        if (mode == "add") {
            const std::string expected = entry.Attribute("hash").value_or("");
            std::string have = FileSha1(newFile);
            if (have.empty()) {
                if (size_t slash = relative.rfind('/'); slash != std::string::npos) {
                    std::string folder = workingFolder + "/" + relative.substr(0, slash);
                    if (!ForceDirectories(folder)) RaiseLastError(Call("ForceDirectories", folder), errno);
                }
                Apply(entry, kNullDevice, newFile, expected, patcher);
                GiveExecuteBitsToPrograms(newFile);
            } else if (have != expected) {
                throw StarterError("файл уже существует в текущей версии.");
            }
        } else if (mode == "remove") {
            std::string have = FileSha1(newFile);
            if (have.empty()) return;
            if (have != entry.Attribute("hash").value_or(""))
                throw StarterError("файл в текущей версии отличается от ожидаемого.");
            if (::unlink(newFile.c_str()) != 0) RaiseLastError(Call("DeleteFile", newFile), errno);
        } else if (mode == "modify") {
            std::string have = FileSha1(newFile);
            if (have.empty()) throw StarterError("файл не существует в текущей версии.");
            const std::string before = entry.Attribute("hash-before").value_or("");
            const std::string after = entry.Attribute("hash-after").value_or("");
            if (have == before) {
                Apply(entry, oldFile, newFile, after, patcher);
            } else if (have != after) {  // equal to it: patched before
                throw StarterError("файл в текущей версии отличается от ожидаемого.");
            }
        } else {
            throw StarterError("invalid patch mode: " + mode + " (?!)");
        }
    } catch (const std::exception &e) {
        throw StarterError("при обновлении файла \"" + relative + "\" произошла ошибка: " + e.what());
    }
}

}  // namespace

void ApplyEntry(const std::string &currentFolder, const std::string &workingFolder, const PatchEntry &entry,
                const std::string &toolPath, const PatchTool &tool) {
    Patcher patcher(toolPath, tool);
    ApplyEntryWith(currentFolder, workingFolder, entry, patcher);
}

void ApplyPatch(const std::string &currentFolder, const std::string &workingFolder, const PatchDocument &answer,
                const std::string &toolPath, const PatchTool &tool) {
    Patcher patcher(toolPath, tool);
    for (const PatchEntry &entry : answer.Entries()) ApplyEntryWith(currentFolder, workingFolder, entry, patcher);
}

void InstallVersion(const std::string &current, const std::string &next, const PatchDocument &answer, bool full,
                    const PatchTool &tool) {
    // The new version's name comes from the answer and becomes a folder name beside the others.
    if (next.empty() || next == "." || next == ".." || next.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
        throw StarterError("invalid version name: " + next + " (?!)");
    const std::string currentFolder = WithoutTrailingSlash(VersionDirectory(current));
    const std::string newFolder = WithoutTrailingSlash(VersionDirectory(next));

    if (DirectoryExists(newFolder)) {
        if (!full) {
            // Built before (a run that ended between the move and the switch): only switch.
            WriteSetting("versions.current", next);
            return;
        }
        if (!DeleteDirectory(newFolder)) RaiseLastError(Call("DeleteDirectory", newFolder), errno);
    }

    // The working folder: a fresh name each time, so a leftover of an earlier run is never reused.
    const std::string copyCall = "SHFileOperation(FO_COPY, \"" + currentFolder + "\" -> \"";
    std::string workingFolder;
    for (;;) {
        workingFolder = newFolder + "." + RandomText(3);
        if (::mkdir(workingFolder.c_str(), 0777) == 0) break;
        if (errno != EEXIST)
            RaiseLastError(full ? Call("CreateDirectory", workingFolder) : copyCall + workingFolder + "\")", errno);
    }

    std::string toolPath;
    try {
        if (!full) {
            struct stat st {};
            if (!CopyTree(currentFolder, workingFolder) || ::stat(currentFolder.c_str(), &st) != 0 ||
                ::chmod(workingFolder.c_str(), st.st_mode & 07777) != 0)
                RaiseLastError(copyCall + workingFolder + "\")", errno);
        }
        MakeTreeWritable(workingFolder);

        toolPath = WriteResourceToTempFile("BSPATCH_EXE", tool.resources);
        if (::chmod(toolPath.c_str(), 0700) != 0) RaiseLastError(Call("SetFileAttributes", toolPath), errno);
        ApplyPatch(currentFolder, workingFolder, answer, toolPath, tool);
        ::unlink(toolPath.c_str());
        toolPath.clear();

        // The new folder must not exist: the move never merges into or replaces a folder.
        if (!MoveFolder(workingFolder, newFolder))
            RaiseLastError("MoveFile(\"" + workingFolder + "\" -> \"" + newFolder + "\")", errno);
    } catch (...) {
        if (!toolPath.empty()) ::unlink(toolPath.c_str());
        if (!DeleteTree(workingFolder)) RaiseLastError("SHFileOperation(FO_DELETE, \"" + workingFolder + "\")", errno);
        throw;
    }
    WriteSetting("versions.current", next);
}

}  // namespace zolm::starter
