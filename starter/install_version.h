// The patch installer of start_updateU: a new version is built in a fresh working folder beside the
// installed ones, checked file by file against the server's SHA-1 digests, moved into place, and
// only then made current. The installed version is never written.
#pragma once

#include <string>

#include "platform/codesign/code_signature.h"
#include "starter/patch_answer.h"
#include "starter/temp_file.h"

namespace zolm::starter {

// Where the patch tool comes from and whom it must be signed by; tests put their own in.
struct PatchTool {
    ResourceLookup resources = EmbeddedResource;              // provides "BSPATCH_EXE"
    const platform::codesign::TrustedRoots *roots = nullptr;  // null: the built-in roots
};

// Makes the version n current, building its folder from the current version c and the answer
// unless it exists already (then, without the full flag, only "versions.current" is switched; with
// it, the old folder is deleted first). Returns once "versions.current" names n. On failure the
// working folder is deleted and the error raised; c and "versions.current" are unchanged. A new
// version's name that is not a plain folder name (empty, ".", "..", or holding "/" or "\") is
// refused with "invalid version name: %s (?!)" before anything is written.
void InstallVersion(const std::string &current, const std::string &next, const PatchDocument &answer, bool full,
                    const PatchTool &tool = {});

// Applies every entry of the answer, in document order, inside the working folder; the first
// failure ends it. Folders without trailing "/". The tool's signature is checked once, at its first
// start, and every entry runs the verified copy.
void ApplyPatch(const std::string &currentFolder, const std::string &workingFolder, const PatchDocument &answer,
                const std::string &toolPath, const PatchTool &tool = {});

// One entry. Errors of the entry's name are raised as they are; every other failure as
// "при обновлении файла "%s" произошла ошибка: %s".
void ApplyEntry(const std::string &currentFolder, const std::string &workingFolder, const PatchEntry &entry,
                const std::string &toolPath, const PatchTool &tool = {});

// Runs the patch tool (signed start, no terminal, standard input from /dev/null) with old file, new
// file and patch file, waits without time limit and returns its exit code (128 plus the signal's
// number when a signal ended it, -1 when the wait failed). Raises "CreateProcess("%s")" when it
// cannot start, and the signature check's errors.
int RunPatcher(const std::string &toolPath, const std::string &oldFile, const std::string &newFile,
               const std::string &patchFile, const PatchTool &tool = {});

// Validates an entry name: not empty ("empty file path (?!)"); first and last character a letter,
// digit, "-" or "_", the others also "." or "/"; neither ".." nor "//" ("invalid file path (?!)").
// Returns the name as a path below a folder ("/" is the separator here, so it stays as it is).
std::string CheckRelativePath(const std::string &name);

}  // namespace zolm::starter
