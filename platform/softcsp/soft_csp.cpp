// The real software CSP: contexts over container folders, keys sealed under the container's PIN,
// signing through OpenSSL's GOST engine.
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/csp_folder.h"
#include "platform/softcsp/gost.h"
#include "platform/softcsp/key_file.h"

namespace softcsp {

Csp::~Csp() = default;

namespace {

// DER length and header, for the few structures the CSP assembles itself.
void AppendHeader(Bytes &out, uint8_t tag, size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    Bytes digits;
    for (size_t n = length; n != 0; n >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(n & 0xFF));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

Bytes Wrap(uint8_t tag, const Bytes &content) {
    Bytes out;
    AppendHeader(out, tag, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// Whether der is exactly one SEQUENCE with a well-formed length.
bool IsOneSequence(const Bytes &der) {
    if (der.size() < 2 || der[0] != 0x30) return false;
    size_t length = der[1], header = 2;
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || der.size() < 2 + count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | der[2 + i];
        header += count;
    }
    return header + length == der.size();
}

bool OidToDer(const std::string &oid, Bytes *der) {
    ASN1_OBJECT *object = OBJ_txt2obj(oid.c_str(), 1);
    if (object == nullptr) return false;
    unsigned char *buffer = nullptr;
    int length = i2d_ASN1_OBJECT(object, &buffer);
    ASN1_OBJECT_free(object);
    if (length <= 0) return false;
    der->assign(buffer, buffer + length);
    OPENSSL_free(buffer);
    return true;
}

const char *KeyPrefix(uint32_t keySpec) { return keySpec == AT_KEYEXCHANGE ? "exchange" : "signature"; }

struct Provider {
    const char *name;
    uint32_t type;
};
constexpr Provider kProviders[] = {
    {kProvider2012, PROV_GOST_2012_256}, {kProvider2012Strong, PROV_GOST_2012_512}, {kProvider2001, PROV_GOST_2001_DH}};

struct Context {
    bool verify = false;
    ContainerName container;
    uint32_t providerType = 0;
    std::string paramSet;
    std::optional<SecretText> pin;  // offered PIN; checked against the keys when pinChecked
    bool pinChecked = false;
    PkeyPtr keys[3];  // opened private keys by key type
    // The certificate signed with last, parsed and checked against its key once: a caller that signs
    // many messages hands in the same certificate every time.
    Bytes signerDer;
    X509Ptr signer;
    uint32_t signerSpec = 0;
};

class SoftCsp final : public Csp {
public:
    SoftCsp(std::string root, uint32_t version) : folder_(std::move(root)), version_(version) {}

    uint32_t AcquireContext(ProvHandle *handle, const char *container, const char *providerName, uint32_t providerType,
                            uint32_t flags) override {
        std::lock_guard lock(mutex_);
        if (handle == nullptr) return ERROR_INVALID_PARAMETER;
        if (!GostReady()) return NTE_FAIL;
        if (uint32_t code = CheckProvider(providerName, providerType)) return code;
        Context context;
        context.providerType = providerType;
        if (flags == CRYPT_VERIFYCONTEXT) {
            context.verify = true;
            return Register(std::move(context), handle);
        }
        if (flags != 0 && flags != CRYPT_NEWKEYSET && flags != CRYPT_DELETEKEYSET) return NTE_BAD_FLAGS;
        std::string path = container == nullptr ? "" : container;
        auto name = ParseContainerPath(path);
        if (!name) return path.empty() || path.back() == '\\' ? NTE_BAD_KEYSET : NTE_BAD_KEYSET_PARAM;
        std::string dir = folder_.ContainerDir(*name);
        if (flags == CRYPT_NEWKEYSET) {
            if (folder_.Exists(dir)) return NTE_EXISTS;
            if (!folder_.CreateContainerDir(*name)) return NTE_FAIL;
        } else if (!folder_.Exists(dir)) {
            return NTE_BAD_KEYSET;
        } else if (flags == CRYPT_DELETEKEYSET) {
            *handle = 0;
            return folder_.RemoveTree(dir) ? 0 : NTE_FAIL;
        }
        context.container = *name;
        return Register(std::move(context), handle);
    }

    uint32_t ReleaseContext(ProvHandle handle) override {
        std::lock_guard lock(mutex_);
        return contexts_.erase(handle) == 1 ? 0 : NTE_BAD_UID;
    }

    uint32_t GetVersion(ProvHandle handle, uint32_t *version) override {
        std::lock_guard lock(mutex_);
        if (Find(handle) == nullptr) return NTE_BAD_UID;
        if (version == nullptr) return ERROR_INVALID_PARAMETER;
        *version = version_;
        return 0;
    }

    uint32_t ProbeContext(ProvHandle handle) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (!context->verify && !folder_.Exists(Dir(*context))) return NTE_BAD_KEYSET;
        return 0;
    }

    uint32_t SetSignatureParamSet(ProvHandle handle, const char *oid) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (oid == nullptr) return ERROR_INVALID_PARAMETER;
        if (!ProviderMakes(context->providerType, ParamSetKeyKind(oid))) return NTE_BAD_ALGID;
        context->paramSet = oid;
        return 0;
    }

    uint32_t SetPin(ProvHandle handle, const char *pin) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (pin == nullptr) return ERROR_INVALID_PARAMETER;
        if (context->verify) return NTE_PERM;
        if (!folder_.Exists(Dir(*context))) return NTE_BAD_KEYSET;
        if (context->pinChecked && context->pin->Equals(pin)) return 0;
        Forget(*context);
        context->pin.emplace(pin);
        uint32_t keySpec = AnyKey(*context);
        if (keySpec == 0) return 0;  // no key yet: the PIN the next key is sealed under
        return OpenPrivateKey(*context, keySpec, nullptr);
    }

    uint32_t ChangePin(ProvHandle handle, const char *newPin) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (newPin == nullptr) return ERROR_INVALID_PARAMETER;
        if (context->verify) return NTE_PERM;
        if (AnyKey(*context) == 0) return NTE_NO_KEY;
        // Every key is opened before any is rewritten, so a failure leaves all under the old PIN.
        std::map<uint32_t, Bytes> sealed;
        for (uint32_t keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
            if (!folder_.Exists(KeyFile(*context, keySpec, ".key"))) continue;
            EVP_PKEY *key = nullptr;
            if (uint32_t code = OpenPrivateKey(*context, keySpec, &key)) return code;
            Bytes der = PrivateKeyToDer(key);
            sealed[keySpec] = SealKey(der, newPin);
            Wipe(der);
            if (sealed[keySpec].empty()) return NTE_FAIL;
        }
        for (auto &[keySpec, data] : sealed)
            if (!folder_.Write(KeyFile(*context, keySpec, ".key"), data)) return NTE_FAIL;
        context->pin.emplace(newPin);
        return 0;
    }

    uint32_t GenerateKey(ProvHandle handle, uint32_t keySpec) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (context->verify) return NTE_PERM;
        if (keySpec != AT_SIGNATURE && keySpec != AT_KEYEXCHANGE) return NTE_BAD_ALGID;
        if (!folder_.Exists(Dir(*context))) return NTE_BAD_KEYSET;
        if (folder_.Exists(KeyFile(*context, keySpec, ".key"))) return NTE_EXISTS;
        // A second key of a container is sealed under the same PIN, which must be known to be right.
        if (uint32_t other = AnyKey(*context)) {
            if (uint32_t code = OpenPrivateKey(*context, other, nullptr)) return code;
        }
        std::string paramSet = context->paramSet.empty() ? DefaultParamSet(context->providerType) : context->paramSet;
        PkeyPtr key = GenerateGostKey(paramSet);
        if (!key) return NTE_FAIL;
        Bytes der = PrivateKeyToDer(key.get());
        Bytes sealed = SealKey(der, context->pin ? context->pin->str() : "");
        Wipe(der);
        Bytes spki = PublicKeyInfo(key.get());
        if (sealed.empty() || spki.empty()) return NTE_FAIL;
        if (!folder_.Write(KeyFile(*context, keySpec, ".pub"), spki) ||
            !folder_.Write(KeyFile(*context, keySpec, ".paramset"), Bytes(paramSet.begin(), paramSet.end())) ||
            !folder_.Write(KeyFile(*context, keySpec, ".key"), sealed))
            return NTE_FAIL;
        if (!context->pin) context->pin.emplace("");
        context->pinChecked = true;
        context->keys[keySpec] = std::move(key);
        return 0;
    }

    uint32_t ExportPublicKeyInfo(ProvHandle handle, uint32_t keySpec, Bytes *spki) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (spki == nullptr) return ERROR_INVALID_PARAMETER;
        if (context->verify || !ValidSpec(keySpec)) return NTE_NO_KEY;
        auto data = folder_.Read(KeyFile(*context, keySpec, ".pub"));
        if (!data) return folder_.Exists(Dir(*context)) ? NTE_NO_KEY : NTE_BAD_KEYSET;
        *spki = std::move(*data);
        return 0;
    }

    uint32_t SignRequest(ProvHandle handle, uint32_t keySpec, const Bytes &requestInfo,
                         const std::string &signatureAlgorithmOid, Bytes *request) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (request == nullptr) return ERROR_INVALID_PARAMETER;
        EVP_PKEY *key = nullptr;
        if (uint32_t code = OpenPrivateKey(*context, keySpec, &key)) return code;
        int kind = 0;
        const EVP_MD *md = DigestForOid(signatureAlgorithmOid, &kind);
        if (md == nullptr || kind != KeyKind(key)) return NTE_BAD_ALGID;
        if (!IsOneSequence(requestInfo)) return CRYPT_E_ASN1_BADTAG;
        MdCtxPtr ctx(EVP_MD_CTX_new());
        size_t length = 0;
        if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, key) != 1 ||
            EVP_DigestSign(ctx.get(), nullptr, &length, requestInfo.data(), requestInfo.size()) != 1)
            return NTE_FAIL;
        Bytes signature(length + 1);  // leading byte: no unused bits
        if (EVP_DigestSign(ctx.get(), signature.data() + 1, &length, requestInfo.data(), requestInfo.size()) != 1)
            return NTE_FAIL;
        signature.resize(length + 1);
        Bytes oid;
        if (!OidToDer(signatureAlgorithmOid, &oid)) return NTE_BAD_ALGID;
        Bytes body = requestInfo;
        Bytes algorithm = Wrap(0x30, oid);
        body.insert(body.end(), algorithm.begin(), algorithm.end());
        Bytes bits = Wrap(0x03, signature);
        body.insert(body.end(), bits.begin(), bits.end());
        *request = Wrap(0x30, body);
        return 0;
    }

    uint32_t SignMessage(ProvHandle handle, uint32_t keySpec, const Bytes &certificate, const std::string &digestOid,
                         const uint8_t *data, size_t length, Bytes *signature) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        return SignWith(*context, keySpec, certificate, digestOid, data, length, signature);
    }

    uint32_t EnumContainers(ProvHandle handle, std::vector<std::string> *containers) override {
        std::lock_guard lock(mutex_);
        if (Find(handle) == nullptr) return NTE_BAD_UID;
        if (containers == nullptr) return ERROR_INVALID_PARAMETER;
        containers->clear();
        for (const auto &name : folder_.ListContainers()) containers->push_back(name.FullPath());
        return 0;
    }

    uint32_t HasKey(ProvHandle handle, uint32_t keySpec) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (context->verify || !ValidSpec(keySpec)) return NTE_NO_KEY;
        return folder_.Exists(KeyFile(*context, keySpec, ".key")) ? 0 : NTE_NO_KEY;
    }

    uint32_t GetKeyCertificate(ProvHandle handle, uint32_t keySpec, Bytes *certificate) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (certificate == nullptr) return ERROR_INVALID_PARAMETER;
        if (context->verify || !ValidSpec(keySpec) || !folder_.Exists(KeyFile(*context, keySpec, ".key")))
            return NTE_NO_KEY;
        auto data = folder_.Read(KeyFile(*context, keySpec, ".cer"));
        if (!data) return SCARD_E_NO_SUCH_CERTIFICATE;
        *certificate = std::move(*data);
        return 0;
    }

    uint32_t SetKeyCertificate(ProvHandle handle, uint32_t keySpec, const Bytes &certificate) override {
        std::lock_guard lock(mutex_);
        Context *context = Find(handle);
        if (context == nullptr) return NTE_BAD_UID;
        if (context->verify || !ValidSpec(keySpec)) return NTE_NO_KEY;
        auto spki = folder_.Read(KeyFile(*context, keySpec, ".pub"));
        if (!spki) return NTE_NO_KEY;
        Bytes certificateKey;
        if (!CertificateKey(certificate, &certificateKey)) return CRYPT_E_ASN1_BADTAG;
        if (certificateKey != *spki) return NTE_BAD_PUBLIC_KEY;
        return folder_.Write(KeyFile(*context, keySpec, ".cer"), certificate) ? 0 : NTE_FAIL;
    }

    uint32_t ListStore(const std::string &store, std::vector<StoredCertificate> *certificates) override {
        std::lock_guard lock(mutex_);
        if (!IsSafeName(store)) return CRYPT_E_NOT_FOUND;
        if (certificates == nullptr) return ERROR_INVALID_PARAMETER;
        certificates->clear();
        std::string dir = folder_.StoreDir(store);
        for (const auto &file : folder_.ListFiles(dir, ".cer")) {
            auto der = folder_.Read(dir + "/" + file);
            if (!der) continue;
            StoredCertificate entry{std::move(*der), std::nullopt};
            auto link = folder_.Read(dir + "/" + file.substr(0, file.size() - 4) + ".link");
            if (link) entry.keyProv = ParseLink(std::string(link->begin(), link->end()));
            certificates->push_back(std::move(entry));
        }
        return 0;
    }

    uint32_t AddToStore(const std::string &store, const StoredCertificate &certificate) override {
        std::lock_guard lock(mutex_);
        if (!IsSafeName(store)) return CRYPT_E_NOT_FOUND;
        Bytes key;
        if (!CertificateKey(certificate.der, &key)) return CRYPT_E_ASN1_BADTAG;
        std::string base = folder_.StoreDir(store) + "/" + Thumbprint(certificate.der);
        if (!folder_.Write(base + ".cer", certificate.der)) return NTE_FAIL;
        if (!certificate.keyProv) return folder_.Remove(base + ".link") ? 0 : NTE_FAIL;
        const KeyProvInfo &link = *certificate.keyProv;
        std::string text = link.container + "\n" + link.providerName + "\n" + std::to_string(link.providerType) + "\n" +
                           std::to_string(link.keySpec) + "\n";
        return folder_.Write(base + ".link", Bytes(text.begin(), text.end())) ? 0 : NTE_FAIL;
    }

    uint32_t SignMessageWithLink(const StoredCertificate &certificate, const std::string &digestOid,
                                 const uint8_t *data, size_t length, Bytes *signature) override {
        if (!certificate.keyProv) return CRYPT_E_NO_KEY_PROPERTY;
        const KeyProvInfo &link = *certificate.keyProv;
        ProvHandle handle = 0;
        if (AcquireContext(&handle, link.container.c_str(), link.providerName.c_str(), link.providerType, 0) != 0)
            return NTE_BAD_KEYSET;
        uint32_t code;
        {
            std::lock_guard lock(mutex_);
            Context &context = *Find(handle);
            code = SignWith(context, link.keySpec, certificate.der, digestOid, data, length, signature);
        }
        ReleaseContext(handle);
        // Without a PIN dialog a protected key reads as a signature the user declined.
        return code == SCARD_W_WRONG_CHV ? NTE_BAD_KEYSET : code;
    }

    uint32_t Sha1(ProvHandle handle, const uint8_t *data, size_t length, Bytes *digest) override {
        std::lock_guard lock(mutex_);
        if (Find(handle) == nullptr) return NTE_BAD_UID;
        if (digest == nullptr || (data == nullptr && length != 0)) return ERROR_INVALID_PARAMETER;
        digest->resize(SHA_DIGEST_LENGTH);
        SHA1(data, length, digest->data());
        return 0;
    }

private:
    uint32_t CheckProvider(const char *providerName, uint32_t providerType) {
        bool typeKnown = false;
        for (const auto &provider : kProviders) typeKnown = typeKnown || provider.type == providerType;
        if (!typeKnown) return NTE_PROV_TYPE_NOT_DEF;
        if (providerName == nullptr || *providerName == '\0') return 0;
        for (const auto &provider : kProviders)
            if (std::string(providerName) == provider.name)
                return provider.type == providerType ? 0 : NTE_PROV_TYPE_NO_MATCH;
        return NTE_KEYSET_NOT_DEF;
    }

    uint32_t Register(Context context, ProvHandle *handle) {
        ProvHandle value = next_++;
        contexts_.emplace(value, std::move(context));
        *handle = value;
        return 0;
    }

    Context *Find(ProvHandle handle) {
        auto it = contexts_.find(handle);
        return it == contexts_.end() ? nullptr : &it->second;
    }

    static bool ValidSpec(uint32_t keySpec) { return keySpec == AT_SIGNATURE || keySpec == AT_KEYEXCHANGE; }
    std::string Dir(const Context &context) const { return folder_.ContainerDir(context.container); }
    std::string KeyFile(const Context &context, uint32_t keySpec, const char *suffix) const {
        return Dir(context) + "/" + KeyPrefix(keySpec) + suffix;
    }

    // The key type of a key the container holds, or 0.
    uint32_t AnyKey(const Context &context) const {
        for (uint32_t keySpec : {AT_SIGNATURE, AT_KEYEXCHANGE})
            if (folder_.Exists(KeyFile(context, keySpec, ".key"))) return keySpec;
        return 0;
    }

    static void Forget(Context &context) {
        context.pin.reset();
        context.pinChecked = false;
        for (auto &key : context.keys) key.reset();
        context.signer.reset();
        context.signerDer.clear();
    }

    // Opens a private key with the offered PIN (or the empty PIN when none was offered).
    uint32_t OpenPrivateKey(Context &context, uint32_t keySpec, EVP_PKEY **key) {
        if (context.verify || !ValidSpec(keySpec)) return NTE_NO_KEY;
        if (!context.keys[keySpec]) {
            auto sealed = folder_.Read(KeyFile(context, keySpec, ".key"));
            if (!sealed) return folder_.Exists(Dir(context)) ? NTE_NO_KEY : NTE_BAD_KEYSET;
            auto der = OpenKey(*sealed, context.pin ? context.pin->str() : "");
            if (!der) {
                Forget(context);
                return SCARD_W_WRONG_CHV;
            }
            context.keys[keySpec] = PrivateKeyFromDer(*der);
            Wipe(*der);
            if (!context.keys[keySpec]) return NTE_BAD_KEY;
            if (!context.pin) context.pin.emplace("");
            context.pinChecked = true;
        }
        if (key != nullptr) *key = context.keys[keySpec].get();
        return 0;
    }

    uint32_t SignWith(Context &context, uint32_t keySpec, const Bytes &certificate, const std::string &digestOid,
                      const uint8_t *data, size_t length, Bytes *signature) {
        if (signature == nullptr || (data == nullptr && length != 0)) return ERROR_INVALID_PARAMETER;
        if (length > INT_MAX) return NTE_BAD_DATA;
        EVP_PKEY *key = nullptr;
        if (uint32_t code = OpenPrivateKey(context, keySpec, &key)) return code;
        if (!context.signer || context.signerSpec != keySpec || context.signerDer != certificate) {
            context.signer.reset();
            const unsigned char *p = certificate.data();
            X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
            if (!cert) return CRYPT_E_ASN1_BADTAG;
            if (X509_check_private_key(cert.get(), key) != 1) return NTE_BAD_PUBLIC_KEY;
            context.signer = std::move(cert);
            context.signerDer = certificate;
            context.signerSpec = keySpec;
        }
        X509 *cert = context.signer.get();
        int kind = 0;
        const EVP_MD *md = DigestForOid(digestOid, &kind);
        if (md == nullptr || kind != KeyKind(key)) return NTE_BAD_ALGID;
        static const uint8_t kEmpty = 0;
        BioPtr in(BIO_new_mem_buf(length == 0 ? &kEmpty : data, static_cast<int>(length)));
        const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
        CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
        if (!in || !cms || CMS_add1_signer(cms.get(), cert, key, md, flags | CMS_NOATTR) == nullptr ||
            CMS_final(cms.get(), in.get(), nullptr, flags) != 1)
            return NTE_FAIL;
        unsigned char *der = nullptr;
        int derLength = i2d_CMS_ContentInfo(cms.get(), &der);
        if (derLength <= 0) return NTE_FAIL;
        signature->assign(der, der + derLength);
        OPENSSL_free(der);
        return 0;
    }

    static bool CertificateKey(const Bytes &certificate, Bytes *spki) {
        const unsigned char *p = certificate.data();
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
        if (!cert || p != certificate.data() + certificate.size()) return false;
        unsigned char *der = nullptr;
        int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der);
        if (length <= 0) return false;
        spki->assign(der, der + length);
        OPENSSL_free(der);
        return true;
    }

    static std::string Thumbprint(const Bytes &der) {
        uint8_t digest[SHA_DIGEST_LENGTH];
        SHA1(der.data(), der.size(), digest);
        static const char kHex[] = "0123456789ABCDEF";
        std::string text;
        for (uint8_t b : digest) {
            text.push_back(kHex[b >> 4]);
            text.push_back(kHex[b & 15]);
        }
        return text;
    }

    static std::optional<KeyProvInfo> ParseLink(const std::string &text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        if (lines.size() < 4) return std::nullopt;
        KeyProvInfo info{lines[0], lines[1], static_cast<uint32_t>(std::strtoul(lines[2].c_str(), nullptr, 10)),
                         static_cast<uint32_t>(std::strtoul(lines[3].c_str(), nullptr, 10))};
        return info;
    }

    std::mutex mutex_;
    CspFolder folder_;
    uint32_t version_;
    std::map<ProvHandle, Context> contexts_;
    ProvHandle next_ = 0x5C5F0001;
};

}  // namespace

std::string DefaultCspFolder() {
    auto env = [](const char *name) -> std::string {
        const char *value = std::getenv(name);
        return value == nullptr ? "" : value;
    };
    if (!env("ZOLM_CSP_DIR").empty()) return env("ZOLM_CSP_DIR");
    if (!env("XDG_DATA_HOME").empty()) return env("XDG_DATA_HOME") + "/zolm-csp";
    return env("HOME") + "/.local/share/zolm-csp";
}

uint32_t ConfiguredVersion() {
    const char *text = std::getenv("ZOLM_CSP_VERSION");
    if (text == nullptr || *text == '\0') return kDefaultVersion;
    char *end = nullptr;
    unsigned long value = std::strtoul(text, &end, 16);
    return *end == '\0' && value <= 0xFFFFFFFFul ? static_cast<uint32_t>(value) : kDefaultVersion;
}

std::unique_ptr<Csp> OpenSoftCsp() { return OpenSoftCsp(DefaultCspFolder(), ConfiguredVersion()); }

std::unique_ptr<Csp> OpenSoftCsp(const std::string &folder, uint32_t version) {
    return std::make_unique<SoftCsp>(folder, version);
}

}  // namespace softcsp
