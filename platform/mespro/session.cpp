// Session start and end, callbacks, last error, file helpers and the GOST engine set-up.
#include "platform/mespro/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace mespro {

X509Ptr ParseCertificate(const std::string &bytes);

State &Lib() {
    // OpenSSL is set up first, so that its clean-up at exit runs after the state's keys are freed.
    static const bool openssl = OPENSSL_init_crypto(0, nullptr) == 1;
    static State state;
    (void)openssl;
    return state;
}

void State::EndSession() {
    initialised = false;
    directory.clear();
    privateKey.reset();
    certificates.clear();
    caCertificates.clear();
    contexts.clear();
    insertCertificate = true;
}

void RequireSession() {
    if (!Lib().initialised) throw Failure{MESPRO_E_NOT_INITIALISED};
}

const char *RequireText(const char *text) {
    if (text == nullptr || *text == '\0') throw Failure{MESPRO_E_NULL};
    return text;
}

bool ReadWholeFile(const std::string &path, std::string &out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        out.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < out.size()) {
            ssize_t n = read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
    }
    close(fd);
    return ok;
}

bool WriteWholeFile(const std::string &path, const void *data, size_t length) {
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    const char *p = static_cast<const char *>(data);
    size_t left = length;
    bool ok = true;
    while (ok && left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            ok = false;
        } else {
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool FileExists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

X509Ptr ReadCertificate(const std::string &bytes) {
    // The last certificate read is kept with its bytes: signing reads the same "cert.pem" each time.
    static std::string lastBytes;
    static X509Ptr last;
    if (last && bytes == lastBytes) {
        if (X509_up_ref(last.get()) != 1) throw std::bad_alloc();
        return X509Ptr(last.get());
    }
    X509Ptr cert = ParseCertificate(bytes);
    if (cert && X509_up_ref(cert.get()) == 1) {
        last.reset(cert.get());
        lastBytes = bytes;
    }
    return cert;
}

X509Ptr ParseCertificate(const std::string &bytes) {
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio) throw std::bad_alloc();
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
        cert.reset(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
    }
    return cert;
}

}  // namespace mespro

using namespace mespro;

extern "C" {

int32_t PKCS7Init(const char *directory, int32_t) {
    return Run([&] {
        if (!GostEngineReady()) throw Failure{MESPRO_E_CRYPTO_INIT};
        State &lib = Lib();
        lib.EndSession();  // an earlier session that was not finished ends here
        lib.directory = directory != nullptr ? directory : "";
        lib.initialised = true;
    });
}

int32_t PKCS7Final(void) {
    return Run([] { Lib().EndSession(); });
}

int32_t GetMessageProLastError(void) { return Lib().lastError; }

int32_t SetRandInitCallbackFun(MesproKeyPressFn callback) {
    Lib().keyPress = callback;
    return 0;
}

int32_t SetKeysNewPasswordCallbackFun(MesproPasswordFn callback) {
    Lib().newPassword = callback;
    return 0;
}

int32_t SetKeysPasswordCallbackFun(MesproPasswordFn callback) {
    Lib().keyPassword = callback;
    return 0;
}

const char *GetKeyFileNameForPassword(void) { return Lib().passwordKeyFile.c_str(); }

int32_t SetInputCodePage(int32_t codePage) {
    return Run([&] {
        if (codePage != 1) throw Failure{MESPRO_E_NOT_SUPPORTED};
    });
}

int32_t SetOutputCodePage(int32_t codePage) { return SetInputCodePage(codePage); }

void FreeBuffer(void *block) { std::free(block); }

}  // extern "C"
