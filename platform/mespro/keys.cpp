// Key pairs: generation for the library's algorithm names, password-protected key files
// (PKCS #8 EncryptedPrivateKeyInfo, DER), loading and re-protecting them.
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstring>
#include <map>

#include "platform/mespro/session.h"

namespace mespro {
namespace {

struct KeyAlgorithm {
    int nid;
    const char *paramset;  // the GOST engine's "paramset" control value; null for RSA
};

const std::map<std::string, KeyAlgorithm> &Algorithms() {
    static const std::map<std::string, KeyAlgorithm> table = {
        {"ECR3410", {NID_id_GostR3410_2012_256, "A"}},
        {"GOST3410-2012-256-A-ParamSet", {NID_id_GostR3410_2012_256, "TCA"}},
        {"GOST3410-2012-256-B-ParamSet", {NID_id_GostR3410_2012_256, "TCB"}},
        {"GOST3410-2012-256-C-ParamSet", {NID_id_GostR3410_2012_256, "TCC"}},
        {"GOST3410-2012-512-A-ParamSet", {NID_id_GostR3410_2012_512, "A"}},
        {"GOST3410-2012-512-B-ParamSet", {NID_id_GostR3410_2012_512, "B"}},
        {"CryptoPro-GostR3410-2001-B-ParamSet", {NID_id_GostR3410_2001, "B"}},
        {"CryptoPro-GostR3410-2001-C-ParamSet", {NID_id_GostR3410_2001, "C"}},
        {"CryptoPro-GostR3410-2001-XchA-ParamSet", {NID_id_GostR3410_2001, "XA"}},
        {"CryptoPro-GostR3410-2001-XchB-ParamSet", {NID_id_GostR3410_2001, "XB"}},
        {"RSA", {EVP_PKEY_RSA, nullptr}},
    };
    return table;
}

// Zeroes a text that held a password before its memory goes back.
struct WipedText {
    std::string text;
    ~WipedText() { OPENSSL_cleanse(text.data(), text.size()); }
};

PkeyPtr GenerateKey(const KeyAlgorithm &algorithm) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(algorithm.nid, nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0) throw Failure{MESPRO_E_KEYGEN};
    if (algorithm.paramset != nullptr) {
        if (EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", algorithm.paramset) <= 0) throw Failure{MESPRO_E_KEYGEN};
    } else if (EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 2048) <= 0) {
        throw Failure{MESPRO_E_KEYGEN};
    }
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &key) <= 0) throw Failure{MESPRO_E_KEYGEN};
    return PkeyPtr(key);
}

// The last private key opened, kept so that repeated signing with one key file does not repeat the
// password-based key derivation. It is found again only for the same file bytes and a password whose
// salted digest matches that of the password that opened them.
struct OpenedKey {
    unsigned char file[SHA256_DIGEST_LENGTH] = {};
    unsigned char salt[16] = {};
    unsigned char password[SHA256_DIGEST_LENGTH] = {};
    PkeyPtr key;

    ~OpenedKey() { OPENSSL_cleanse(password, sizeof password); }
};

OpenedKey &LastOpened() {
    static OpenedKey opened;
    return opened;
}

void PasswordDigest(const unsigned char *salt, const std::string &password, unsigned char *out) {
    SHA256_CTX hash;
    SHA256_Init(&hash);
    SHA256_Update(&hash, salt, 16);
    SHA256_Update(&hash, password.data(), password.size());
    SHA256_Final(out, &hash);
    OPENSSL_cleanse(&hash, sizeof hash);
}

}  // namespace

std::string AskPassword(MesproPasswordFn callback, const std::string &keyFile, int32_t refusal) {
    if (callback == nullptr) return std::string();
    char buffer[512];
    std::memset(buffer, 0, sizeof buffer);
    State &lib = Lib();
    lib.passwordKeyFile = keyFile;
    int32_t length = callback(buffer, static_cast<int32_t>(sizeof buffer));
    lib.passwordKeyFile.clear();
    // A callback that wrote past its length or refused gives no password.
    bool ok = length >= 0 && static_cast<size_t>(length) < sizeof buffer && buffer[length] == '\0';
    std::string password = ok ? std::string(buffer, static_cast<size_t>(length)) : std::string();
    OPENSSL_cleanse(buffer, sizeof buffer);
    if (!ok) throw Failure{refusal};
    return password;
}

PkeyPtr ReadPrivateKey(const std::string &keyFile, const std::string &password) {
    std::string der;
    if (keyFile.empty()) throw Failure{MESPRO_E_NO_KEY_FILE};
    if (!ReadWholeFile(keyFile, der)) throw Failure{MESPRO_E_KEY_READ};
    OpenedKey &last = LastOpened();
    unsigned char file[SHA256_DIGEST_LENGTH];
    unsigned char given[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(der.data()), der.size(), file);
    if (last.key) {
        PasswordDigest(last.salt, password, given);
        bool same =
            CRYPTO_memcmp(file, last.file, sizeof file) == 0 && CRYPTO_memcmp(given, last.password, sizeof given) == 0;
        OPENSSL_cleanse(given, sizeof given);
        if (same) {
            if (EVP_PKEY_up_ref(last.key.get()) != 1) throw std::bad_alloc();
            return PkeyPtr(last.key.get());
        }
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(der.data());
    X509SigPtr sealed(d2i_X509_SIG(nullptr, &p, static_cast<long>(der.size())));
    if (!sealed) throw Failure{MESPRO_E_KEY_DECODE};
    P8InfoPtr info(PKCS8_decrypt(sealed.get(), password.data(), static_cast<int>(password.size())));
    if (!info) throw Failure{MESPRO_E_WRONG_PASSWORD};
    PkeyPtr key(EVP_PKCS82PKEY(info.get()));
    if (!key) throw Failure{MESPRO_E_KEY_DECODE};
    if (RAND_bytes(last.salt, sizeof last.salt) == 1 && EVP_PKEY_up_ref(key.get()) == 1) {
        std::memcpy(last.file, file, sizeof file);
        PasswordDigest(last.salt, password, last.password);
        last.key.reset(key.get());
    }
    return key;
}

void WritePrivateKey(const std::string &keyFile, EVP_PKEY *key, const std::string &password) {
    P8InfoPtr info(EVP_PKEY2PKCS8(key));
    if (!info) throw Failure{MESPRO_E_KEY_WRITE};
    X509SigPtr sealed(PKCS8_encrypt(-1, EVP_aes_256_cbc(), password.data(), static_cast<int>(password.size()), nullptr,
                                    0, PKCS5_DEFAULT_ITER, info.get()));
    if (!sealed) throw Failure{MESPRO_E_KEY_WRITE};
    unsigned char *der = nullptr;
    int length = i2d_X509_SIG(sealed.get(), &der);
    if (length <= 0) throw Failure{MESPRO_E_KEY_WRITE};
    bool written = WriteWholeFile(keyFile, der, static_cast<size_t>(length));
    OPENSSL_free(der);
    if (!written) throw Failure{MESPRO_E_KEY_WRITE};
}

}  // namespace mespro

using namespace mespro;

extern "C" {

int32_t SetNewKeysAlgorithm(const char *name) {
    return Run([&] {
        RequireSession();
        if (Algorithms().count(RequireText(name)) == 0) throw Failure{MESPRO_E_ALGORITHM};
        Lib().algorithm = name;
    });
}

int32_t NewKeysGenerationEx(const char *directory, int32_t, const char *keyFile, const char *requestFile, int32_t) {
    return Run([&] {
        RequireSession();
        if (keyFile == nullptr || *keyFile == '\0') throw Failure{MESPRO_E_NO_KEY_FILE};
        if (requestFile != nullptr && *requestFile != '\0') throw Failure{MESPRO_E_NOT_SUPPORTED};
        SeedRandom(directory != nullptr ? directory : "");
        PkeyPtr key = GenerateKey(Algorithms().at(Lib().algorithm));
        WipedText password{AskPassword(Lib().newPassword, keyFile, MESPRO_E_KEY_WRITE)};
        WritePrivateKey(keyFile, key.get(), password.text);
    });
}

int32_t AddPSEPrivateKeyEx(const char *, int32_t, const char *keyFile, const char *password) {
    return Run([&] {
        RequireSession();
        if (password == nullptr) throw Failure{MESPRO_E_NULL};
        Lib().privateKey = ReadPrivateKey(keyFile != nullptr ? keyFile : "", password);
    });
}

int32_t ChangePrivateKeyPasswordEx(const char *, int32_t, const char *keyFile, const char *currentPassword,
                                   const char *newPassword) {
    return Run([&] {
        RequireSession();
        if (currentPassword == nullptr || newPassword == nullptr) throw Failure{MESPRO_E_NULL};
        std::string path = keyFile != nullptr ? keyFile : "";
        PkeyPtr key = ReadPrivateKey(path, currentPassword);
        WritePrivateKey(path, key.get(), newPassword);
    });
}

}  // extern "C"
