// The library's process-wide state: the session between PKCS7Init and PKCS7Final, the settings that
// outlive it (callbacks, key algorithm, request settings), and the last error code.
#pragma once

#include <openssl/err.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mespro/mespro.h"
#include "platform/mespro/ossl.h"

namespace mespro {

// A library failure: its code becomes the function's result and the last error.
struct Failure {
    int32_t code;
};

struct SignContext {
    X509Ptr signer;  // the certificate named by AddSigner
};

struct State {
    // Session.
    bool initialised = false;
    std::string directory;
    PkeyPtr privateKey;                   // loaded by AddPSEPrivateKeyEx
    std::vector<X509Ptr> certificates;    // AddCertificateFromBuffer
    std::vector<X509Ptr> caCertificates;  // AddCAs
    std::vector<std::unique_ptr<SignContext>> contexts;
    bool insertCertificate = true;

    // Outliving the session.
    MesproKeyPressFn keyPress = nullptr;
    MesproPasswordFn newPassword = nullptr;
    MesproPasswordFn keyPassword = nullptr;
    std::string passwordKeyFile;  // GetKeyFileNameForPassword during a callback
    std::string algorithm = "ECR3410";
    int32_t requestFlags = 0;
    std::vector<std::pair<std::string, std::string>> subject;
    int32_t keyUsage = 0;  // 0: no key usage extension
    bool keyUsageCritical = false;
    std::vector<std::string> extendedKeyUsage;
    bool extendedKeyUsageCritical = false;
    std::vector<std::string> policies;
    bool policiesCritical = false;
    int32_t basicConstraintsCA = -1;  // -1: no basic constraints extension
    bool basicConstraintsCritical = false;
    bool subjectSignTool = false;

    int32_t lastError = 0;

    void EndSession();
};

State &Lib();

// Raises MESPRO_E_NOT_INITIALISED outside a session.
void RequireSession();
// Raises MESPRO_E_NULL for a null or empty text.
const char *RequireText(const char *text);

// Runs the work of an exported function: 0 or the failure's code, which becomes the last error.
// Nothing is thrown out of it.
template <typename Work>
int32_t Run(Work &&work) noexcept {
    int32_t code = 0;
    try {
        work();
    } catch (const Failure &f) {
        code = f.code;
    } catch (const std::bad_alloc &) {
        code = MESPRO_E_NO_MEMORY;
    } catch (...) {
        code = MESPRO_E_INTERNAL;
    }
    ERR_clear_error();  // OpenSSL's error queue is not carried from call to call
    Lib().lastError = code;
    return code;
}

// Whole-file helpers; files are written with mode 0600 and replaced atomically.
bool ReadWholeFile(const std::string &path, std::string &out);
bool WriteWholeFile(const std::string &path, const void *data, size_t length);
bool FileExists(const std::string &path);

// Private keys.
PkeyPtr ReadPrivateKey(const std::string &keyFile, const std::string &password);
void WritePrivateKey(const std::string &keyFile, EVP_PKEY *key, const std::string &password);
// Asks a password callback for the password of keyFile; raises `refusal` when it refuses.
std::string AskPassword(MesproPasswordFn callback, const std::string &keyFile, int32_t refusal);

// Randomness: seeds OpenSSL's generator from the system, the directory's seed file and the
// key-press callback, and writes a fresh seed file.
void SeedRandom(const std::string &directory);

// A certificate in PEM or DER; null when the bytes hold none.
X509Ptr ReadCertificate(const std::string &bytes);
// The certificate of that serial number among those added to the session; null when none.
X509 *FindCertificate(const std::string &serial);
// The serial number as upper-case hexadecimal.
std::string SerialText(X509 *certificate);

}  // namespace mespro
