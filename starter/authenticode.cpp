// The signature check through the platform's code signature and the start from the checked file.
#include "starter/authenticode.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "starter/fileops.h"
#include "starter/last_error.h"
#include "starter/starter_error.h"

namespace zolm::starter {

using platform::UniqueFd;
namespace codesign = platform::codesign;

UniqueFd VerifyFileSignature(const std::string &path, const std::string &signer, const codesign::TrustedRoots &roots) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return fd;
    // Only a regular file can be a program: a folder does not open, as on the system the starter was
    // written for.
    struct stat st {};
    bool statFailed = ::fstat(fd.Get(), &st) != 0;
    if (statFailed || !S_ISREG(st.st_mode)) {
        int error = statFailed ? errno : S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        fd.Reset();
        errno = error;
        return fd;
    }
    std::string name;
    try {
        name = codesign::VerifyDescriptor(fd.Get(), roots);
    } catch (const codesign::SignatureError &e) {
        throw StarterError(CallErrorText("WinVerifyTrust", e.code(), e.what()));
    }
    if (!signer.empty() && name != signer) throw StarterError("signer is not trusted");
    return fd;
}

pid_t SignedStart(const std::string &path, const ProcessRequest &request, const std::string &signer,
                  const codesign::TrustedRoots &roots) {
    UniqueFd fd = VerifyFileSignature(path, signer, roots);
    if (!fd.Valid()) return -1;
    pid_t pid = StartFromDescriptor(fd.Get(), request);
    int error = errno;
    fd.Reset();  // closed after the creation, whether or not it succeeded
    errno = error;
    return pid;
}

namespace {

// A sealed memory copy of the file just opened: no write, resize or further seal is possible afterwards.
// Invalid when the system cannot make one (no memfd, no sealing, or memory files may not be run).
UniqueFd SealedCopy(int fd) {
#ifdef MFD_EXEC
    UniqueFd copy(::memfd_create("verified-program", MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC));
    if (!copy.Valid() && errno == EINVAL)
#else
    UniqueFd copy;
#endif
        copy = UniqueFd(::memfd_create("verified-program", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!copy.Valid() || !CopyContents(fd, copy.Get())) return {};
    if (::fcntl(copy.Get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) return {};
    return copy;
}

}  // namespace

VerifiedProgram::VerifiedProgram(const std::string &path, const std::string &signer,
                                 const codesign::TrustedRoots &roots)
    : path_(path), signer_(signer), roots_(&roots) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) return;
    // Only a file that may be run where it lies gets a copy, so that its mode and its file
    // system's noexec keep their say.
    struct stat st {};
    struct statvfs fs {};
    if (::fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0 &&
        ::fstatvfs(file.Get(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) == 0)
        sealed_ = SealedCopy(file.Get());
    if (!sealed_.Valid()) {
        // The file itself, checked now for the error and again at every start.
        opened_ = VerifyFileSignature(path, signer, roots).Valid();
        return;
    }
    std::string name;
    try {
        name = codesign::VerifyDescriptor(sealed_.Get(), roots);
    } catch (const codesign::SignatureError &e) {
        throw StarterError(CallErrorText("WinVerifyTrust", e.code(), e.what()));
    }
    if (!signer.empty() && name != signer) throw StarterError("signer is not trusted");
}

pid_t VerifiedProgram::Start(const ProcessRequest &request) const {
    if (sealed_.Valid()) {
        pid_t pid = StartFromDescriptor(sealed_.Get(), request);
        // A system that forbids running memory files: the file, checked again.
        if (pid >= 0 || errno != EACCES) return pid;
    }
    return SignedStart(path_, request, signer_, *roots_);
}

}  // namespace zolm::starter
