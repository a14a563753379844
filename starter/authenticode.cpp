// The signature check through the platform's code signature and the start from the checked file.
#include "starter/authenticode.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

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

}  // namespace zolm::starter
