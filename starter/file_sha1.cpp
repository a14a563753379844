// SHA-1 of files through OpenSSL's EVP interface, read in pieces so a large file costs no memory.
#include "starter/file_sha1.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/named_objects.h"
#include "starter/last_error.h"
#include "starter/wipe_mem.h"

namespace zolm::starter {

std::string FileSha1(const std::string &path) {
    using zolm::platform::UniqueFd;
    const std::string open = "CreateFile(\"" + path + "\")";
    const std::string read = "ReadFile(\"" + path + "\")";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        RaiseLastError(open, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) RaiseLastError(read, errno);
    if (S_ISDIR(st.st_mode)) return {};
    if (!S_ISREG(st.st_mode)) RaiseLastError(open, EINVAL);

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) != 1) throw std::bad_alloc();
    SecureBytes buffer(size_t{64} << 10);  // file contents: wiped when done
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) RaiseLastError(read, errno);
        if (got == 0) break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(got));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace zolm::starter
