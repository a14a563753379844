// GOST algorithms through OpenSSL's GOST engine (Debian's libengine-gost-openssl).
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/softcsp/gost.h"

#include <openssl/engine.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <cstring>

namespace softcsp {
namespace {

struct ParamSet {
    const char *oid;
    int kind;
    const char *engineName;  // the engine's own name of the set
};

// The sets the engine knows, by the OIDs the certification server and the plug-ins pass.
constexpr ParamSet kParamSets[] = {
    {"1.2.643.7.1.2.1.1.1", 256, "TCA"}, {"1.2.643.7.1.2.1.1.2", 256, "TCB"}, {"1.2.643.7.1.2.1.1.3", 256, "TCC"},
    {"1.2.643.7.1.2.1.1.4", 256, "TCD"}, {"1.2.643.2.2.35.1", 256, "A"},      {"1.2.643.2.2.35.2", 256, "B"},
    {"1.2.643.2.2.35.3", 256, "C"},      {"1.2.643.2.2.36.0", 256, "XA"},     {"1.2.643.2.2.36.1", 256, "XB"},
    {"1.2.643.7.1.2.1.2.1", 512, "A"},   {"1.2.643.7.1.2.1.2.2", 512, "B"},   {"1.2.643.7.1.2.1.2.3", 512, "C"},
};

const ParamSet *FindParamSet(const std::string &oid) {
    for (const auto &set : kParamSets)
        if (oid == set.oid) return &set;
    return nullptr;
}

}  // namespace

bool GostReady() noexcept {
    static const bool ready = [] {
        ENGINE *engine = ENGINE_by_id("gost");
        if (engine == nullptr) return false;
        bool ok = ENGINE_init(engine) == 1;
        // The default tables keep their own references to the engine.
        if (ok) ok = ENGINE_set_default(engine, ENGINE_METHOD_ALL) == 1;
        if (ok) ENGINE_finish(engine);
        ENGINE_free(engine);
        return ok;
    }();
    return ready;
}

int ParamSetKeyKind(const std::string &oid) {
    const ParamSet *set = FindParamSet(oid);
    return set == nullptr ? 0 : set->kind;
}

bool ProviderMakes(uint32_t providerType, int keyKind) {
    switch (providerType) {
        case PROV_GOST_2012_256:
            return keyKind == 256;
        case PROV_GOST_2012_512:
            return keyKind == 256 || keyKind == 512;
        case PROV_GOST_2001_DH:
            return keyKind == 256;  // 2001 keys share the 256-bit curves
        default:
            return false;
    }
}

std::string DefaultParamSet(uint32_t providerType) {
    switch (providerType) {
        case PROV_GOST_2012_512:
            return "1.2.643.7.1.2.1.2.1";
        case PROV_GOST_2001_DH:
            return "1.2.643.2.2.35.1";
        default:
            return "1.2.643.7.1.2.1.1.1";
    }
}

PkeyPtr GenerateGostKey(const std::string &paramSetOid) {
    const ParamSet *set = FindParamSet(paramSetOid);
    if (set == nullptr || !GostReady()) return nullptr;
    int nid = set->kind == 512 ? NID_id_GostR3410_2012_512 : NID_id_GostR3410_2012_256;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(nid, nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", set->engineName) <= 0)
        return nullptr;
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &key) <= 0) return nullptr;
    return PkeyPtr(key);
}

const EVP_MD *DigestForOid(const std::string &oid, int *keyKind) {
    struct Row {
        const char *oid;
        int nid;
        int kind;
    };
    static const Row kRows[] = {
        {"1.2.643.7.1.1.2.2", NID_id_GostR3411_2012_256, 256}, {"1.2.643.7.1.1.3.2", NID_id_GostR3411_2012_256, 256},
        {"1.2.643.7.1.1.2.3", NID_id_GostR3411_2012_512, 512}, {"1.2.643.7.1.1.3.3", NID_id_GostR3411_2012_512, 512},
        {"1.2.643.2.2.9", NID_id_GostR3411_94, 2001},          {"1.2.643.2.2.3", NID_id_GostR3411_94, 2001},
    };
    if (!GostReady()) return nullptr;
    for (const auto &row : kRows) {
        if (oid == row.oid) {
            if (keyKind != nullptr) *keyKind = row.kind;
            return EVP_get_digestbynid(row.nid);
        }
    }
    return nullptr;
}

int KeyKind(const EVP_PKEY *key) {
    switch (EVP_PKEY_get_base_id(key)) {
        case NID_id_GostR3410_2012_256:
            return 256;
        case NID_id_GostR3410_2012_512:
            return 512;
        case NID_id_GostR3410_2001:
            return 2001;
        default:
            return 0;
    }
}

Bytes PrivateKeyToDer(EVP_PKEY *key) {
    PKCS8_PRIV_KEY_INFO *info = EVP_PKEY2PKCS8(key);
    if (info == nullptr) return {};
    unsigned char *der = nullptr;
    int length = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (length <= 0) return {};
    Bytes out(der, der + length);
    OPENSSL_clear_free(der, length);
    return out;
}

PkeyPtr PrivateKeyFromDer(const Bytes &der) {
    if (!GostReady()) return nullptr;
    const unsigned char *p = der.data();
    PKCS8_PRIV_KEY_INFO *info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
    if (info == nullptr) return nullptr;
    PkeyPtr key(EVP_PKCS82PKEY(info));
    PKCS8_PRIV_KEY_INFO_free(info);
    return key;
}

Bytes PublicKeyInfo(EVP_PKEY *key) {
    unsigned char *der = nullptr;
    int length = i2d_PUBKEY(key, &der);
    if (length <= 0) return {};
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace softcsp
