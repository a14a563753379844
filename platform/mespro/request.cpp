// Certificate requests: the subject and extension settings, PKCS #10 requests signed with the
// requested key, and CMC full requests (RFC 5272 PKIData in a CMS SignedData) signed with the
// current key and certificate. Both are written as PEM.
#include <openssl/pem.h>

#include <cstring>
#include <map>

#include "common/name_tables.h"
#include "platform/mespro/session.h"

namespace mespro {
namespace {

constexpr const char *kSubjectSignToolOid = "1.2.643.100.111";
constexpr const char *kSignToolName = "libmespro (Message-PRO 4 compatible)";
constexpr int32_t kKnownRequestFlags = 0x2 | 0x8 | 0x10;


using ObjectPtr = std::unique_ptr<ASN1_OBJECT, OsslDeleter<ASN1_OBJECT_free>>;

ObjectPtr Object(const std::string &text, int32_t failure) {
    // Attribute names the system's templates use are accepted beside dotted OIDs.
    const zolm::SubjectAttributeName *named = zolm::FindSubjectAttributeByName(text);
    ObjectPtr object(OBJ_txt2obj(named != nullptr ? named->oid : text.c_str(), 0));
    if (!object) throw Failure{failure};
    return object;
}

void AddAttribute(X509_NAME *name, const std::string &attribute, const std::string &value) {
    ObjectPtr object = Object(attribute, MESPRO_E_NAME);
    if (X509_NAME_add_entry_by_OBJ(name, object.get(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1) {
        throw Failure{MESPRO_E_NAME};
    }
}

void Push(STACK_OF(X509_EXTENSION) * extensions, X509_EXTENSION *extension) {
    if (extension == nullptr) throw Failure{MESPRO_E_EXTENSION};
    if (sk_X509_EXTENSION_push(extensions, extension) <= 0) {
        X509_EXTENSION_free(extension);
        throw std::bad_alloc();
    }
}

ExtStackPtr BuildExtensions(const State &lib) {
    ExtStackPtr extensions(sk_X509_EXTENSION_new_null());
    if (!extensions) throw std::bad_alloc();
    if (lib.keyUsage != 0) {
        std::unique_ptr<ASN1_BIT_STRING, OsslDeleter<ASN1_BIT_STRING_free>> bits(ASN1_BIT_STRING_new());
        for (int bit = 0; bit < 9; ++bit) {
            if ((lib.keyUsage & (1 << bit)) != 0 && ASN1_BIT_STRING_set_bit(bits.get(), bit, 1) != 1) {
                throw std::bad_alloc();
            }
        }
        Push(extensions.get(), X509V3_EXT_i2d(NID_key_usage, lib.keyUsageCritical, bits.get()));
    }
    if (!lib.extendedKeyUsage.empty()) {
        std::unique_ptr<EXTENDED_KEY_USAGE, OsslDeleter<EXTENDED_KEY_USAGE_free>> usage(EXTENDED_KEY_USAGE_new());
        for (const std::string &oid : lib.extendedKeyUsage) {
            ObjectPtr object = Object(oid, MESPRO_E_EXTENSION);
            if (sk_ASN1_OBJECT_push(usage.get(), object.get()) <= 0) throw std::bad_alloc();
            object.release();
        }
        Push(extensions.get(), X509V3_EXT_i2d(NID_ext_key_usage, lib.extendedKeyUsageCritical, usage.get()));
    }
    if (!lib.policies.empty()) {
        std::unique_ptr<CERTIFICATEPOLICIES, OsslDeleter<CERTIFICATEPOLICIES_free>> policies(CERTIFICATEPOLICIES_new());
        for (const std::string &oid : lib.policies) {
            POLICYINFO *info = POLICYINFO_new();
            if (info == nullptr) throw std::bad_alloc();
            ASN1_OBJECT_free(info->policyid);
            info->policyid = Object(oid, MESPRO_E_EXTENSION).release();
            if (sk_POLICYINFO_push(policies.get(), info) <= 0) {
                POLICYINFO_free(info);
                throw std::bad_alloc();
            }
        }
        Push(extensions.get(), X509V3_EXT_i2d(NID_certificate_policies, lib.policiesCritical, policies.get()));
    }
    if (lib.basicConstraintsCA >= 0) {
        std::unique_ptr<BASIC_CONSTRAINTS, OsslDeleter<BASIC_CONSTRAINTS_free>> constraints(BASIC_CONSTRAINTS_new());
        if (!constraints) throw std::bad_alloc();
        constraints->ca = lib.basicConstraintsCA != 0 ? 0xFF : 0;
        Push(extensions.get(), X509V3_EXT_i2d(NID_basic_constraints, lib.basicConstraintsCritical, constraints.get()));
    }
    if (lib.subjectSignTool) {
        std::unique_ptr<ASN1_UTF8STRING, OsslDeleter<ASN1_UTF8STRING_free>> tool(ASN1_UTF8STRING_new());
        if (!tool || ASN1_STRING_set(tool.get(), kSignToolName, -1) != 1) throw std::bad_alloc();
        unsigned char *der = nullptr;
        int length = i2d_ASN1_UTF8STRING(tool.get(), &der);
        if (length <= 0) throw Failure{MESPRO_E_EXTENSION};
        std::unique_ptr<ASN1_OCTET_STRING, OsslDeleter<ASN1_OCTET_STRING_free>> value(ASN1_OCTET_STRING_new());
        bool ok = value && ASN1_OCTET_STRING_set(value.get(), der, length) == 1;
        OPENSSL_free(der);
        if (!ok) throw std::bad_alloc();
        ObjectPtr object = Object(kSubjectSignToolOid, MESPRO_E_EXTENSION);
        Push(extensions.get(), X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, value.get()));
    }
    return extensions;
}

const EVP_MD *DigestFor(EVP_PKEY *key) {
    int nid = NID_undef;
    if (EVP_PKEY_get_default_digest_nid(key, &nid) <= 0 || nid == NID_undef) nid = NID_sha256;
    return EVP_get_digestbynid(nid);
}

// The PKCS #10 request for the key of keyFile, its password asked through the key-file callback.
X509ReqPtr MakeRequest(const std::string &keyFile) {
    State &lib = Lib();
    if (keyFile.empty()) throw Failure{MESPRO_E_REQUEST_KEY_MISSING};
    if (!FileExists(keyFile)) throw Failure{MESPRO_E_REQUEST_KEY_READ};
    std::string password = AskPassword(lib.keyPassword, keyFile, MESPRO_E_REQUEST_KEY_READ);
    PkeyPtr key;
    try {
        key = ReadPrivateKey(keyFile, password);
    } catch (...) {
        OPENSSL_cleanse(password.data(), password.size());
        throw;
    }
    OPENSSL_cleanse(password.data(), password.size());

    X509ReqPtr request(X509_REQ_new());
    X509NamePtr subject(X509_NAME_new());
    if (!request || !subject) throw std::bad_alloc();
    for (const auto &[attribute, value] : lib.subject) AddAttribute(subject.get(), attribute, value);
    ExtStackPtr extensions = BuildExtensions(lib);
    if (X509_REQ_set_version(request.get(), 0) != 1 || X509_REQ_set_subject_name(request.get(), subject.get()) != 1 ||
        X509_REQ_set_pubkey(request.get(), key.get()) != 1) {
        throw Failure{MESPRO_E_REQUEST_ENCODE};
    }
    if (sk_X509_EXTENSION_num(extensions.get()) > 0 && X509_REQ_add_extensions(request.get(), extensions.get()) != 1) {
        throw Failure{MESPRO_E_REQUEST_ENCODE};
    }
    if (X509_REQ_sign(request.get(), key.get(), DigestFor(key.get())) <= 0) throw Failure{MESPRO_E_REQUEST_SIGN};
    return request;
}

template <typename Writer>
void WritePem(const std::string &file, Writer &&write) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) throw Failure{MESPRO_E_REQUEST_ENCODE};
    char *data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    if (!WriteWholeFile(file, data, static_cast<size_t>(length))) throw Failure{MESPRO_E_REQUEST_WRITE};
}

// DER pieces of PKIData, which OpenSSL has no type for.
std::string DerLength(size_t length) {
    std::string out;
    if (length < 0x80) return std::string(1, static_cast<char>(length));
    while (length > 0) {
        out.insert(out.begin(), static_cast<char>(length & 0xFF));
        length >>= 8;
    }
    out.insert(out.begin(), static_cast<char>(0x80 | out.size()));
    return out;
}

std::string Der(unsigned char tag, const std::string &content) {
    return std::string(1, static_cast<char>(tag)) + DerLength(content.size()) + content;
}

// PKIData ::= SEQUENCE { controlSequence, reqSequence, cmsSequence, otherMsgSequence }, the request
// sequence holding one TaggedCertificationRequest ([0] IMPLICIT, bodyPartID 1).
std::string PkiData(X509_REQ *request) {
    unsigned char *der = nullptr;
    int length = i2d_X509_REQ(request, &der);
    if (length <= 0) throw Failure{MESPRO_E_REQUEST_ENCODE};
    std::string requestDer(reinterpret_cast<char *>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    std::string bodyPartId = Der(0x02, std::string(1, '\x01'));
    std::string tagged = Der(0xA0, bodyPartId + requestDer);
    std::string empty = Der(0x30, "");
    return Der(0x30, empty + Der(0x30, tagged) + empty + empty);
}

std::string Hex(const unsigned char *data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

}  // namespace

std::string SerialText(X509 *certificate) {
    std::unique_ptr<BIGNUM, OsslDeleter<BN_free>> number(
        ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
    if (!number) throw std::bad_alloc();
    std::string bytes(static_cast<size_t>(BN_num_bytes(number.get())), '\0');
    BN_bn2bin(number.get(), reinterpret_cast<unsigned char *>(bytes.data()));
    std::string text = Hex(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    return text.empty() ? "00" : text;
}

X509 *FindCertificate(const std::string &serial) {
    State &lib = Lib();
    for (auto *list : {&lib.certificates, &lib.caCertificates}) {
        for (X509Ptr &cert : *list) {
            if (strcasecmp(SerialText(cert.get()).c_str(), serial.c_str()) == 0) return cert.get();
        }
    }
    return nullptr;
}

}  // namespace mespro

using namespace mespro;

extern "C" {

int32_t ResetDistinguishedName(void) {
    Lib().subject.clear();
    return 0;
}

int32_t ResetExtensions(void) {
    State &lib = Lib();
    lib.keyUsage = 0;
    lib.keyUsageCritical = false;
    lib.extendedKeyUsage.clear();
    lib.extendedKeyUsageCritical = false;
    lib.policies.clear();
    lib.policiesCritical = false;
    lib.basicConstraintsCA = -1;
    lib.basicConstraintsCritical = false;
    lib.subjectSignTool = false;
    return 0;
}

int32_t SetCertificateRequestFlags(int32_t flags) {
    return Run([&] {
        if ((flags & ~kKnownRequestFlags) != 0) throw Failure{MESPRO_E_REQUEST_FLAGS};
        Lib().requestFlags = flags;
    });
}

int32_t SetDistinguishedNameAttribute(const char *attribute, const char *value) {
    return Run([&] {
        if (attribute == nullptr || value == nullptr) throw Failure{MESPRO_E_NULL};
        // Checked now, so that a bad attribute is reported by the call that set it.
        X509NamePtr probe(X509_NAME_new());
        if (!probe) throw std::bad_alloc();
        AddAttribute(probe.get(), attribute, value);
        Lib().subject.emplace_back(attribute, value);
    });
}

int32_t SetKeyUsage(int32_t flags, int32_t critical) {
    return Run([&] {
        if (flags <= 0 || flags > 0x1FF) throw Failure{MESPRO_E_EXTENSION};
        Lib().keyUsage = flags;
        Lib().keyUsageCritical = critical != 0;
    });
}

int32_t AddExtendedKeyUsage(const char *oid, int32_t critical) {
    return Run([&] {
        Object(RequireText(oid), MESPRO_E_EXTENSION);
        Lib().extendedKeyUsage.emplace_back(oid);
        Lib().extendedKeyUsageCritical = critical != 0;
    });
}

int32_t AddCertificatePolicy(const char *oid, int32_t critical) {
    return Run([&] {
        Object(RequireText(oid), MESPRO_E_EXTENSION);
        Lib().policies.emplace_back(oid);
        Lib().policiesCritical = critical != 0;
    });
}

int32_t SetBasicConstraints(int32_t ca, int32_t critical) {
    return Run([&] {
        Lib().basicConstraintsCA = ca != 0 ? 1 : 0;
        Lib().basicConstraintsCritical = critical != 0;
    });
}

int32_t SetSubjectSignTool(void) {
    Lib().subjectSignTool = true;
    Lib().lastError = 0;
    return 0;
}

int32_t MakePSECertificateRequest(const char *requestFile, const char *, const char *keyFile, int32_t, int32_t) {
    return Run([&] {
        RequireSession();
        if (requestFile == nullptr || *requestFile == '\0') throw Failure{MESPRO_E_NO_REQUEST_FILE};
        X509ReqPtr request = MakeRequest(keyFile != nullptr ? keyFile : "");
        WritePem(requestFile, [&](BIO *bio) { return PEM_write_bio_X509_REQ(bio, request.get()); });
    });
}

int32_t MakePSECertificateRequestEx(const char *requestFile, const char *, const char *keyFile, int32_t, int32_t,
                                    int32_t signerMode, const char *signerSerial, int32_t) {
    return Run([&] {
        RequireSession();
        State &lib = Lib();
        if (requestFile == nullptr || *requestFile == '\0') throw Failure{MESPRO_E_NO_REQUEST_FILE};
        if (signerMode != 2) throw Failure{MESPRO_E_NOT_SUPPORTED};
        if (!lib.privateKey) throw Failure{MESPRO_E_KEY_NOT_LOADED};
        X509 *signer = FindCertificate(RequireText(signerSerial));
        if (signer == nullptr) throw Failure{MESPRO_E_SIGNER_NOT_FOUND};
        if (X509_check_private_key(signer, lib.privateKey.get()) != 1) throw Failure{MESPRO_E_SIGNER_INFO};

        X509ReqPtr request = MakeRequest(keyFile != nullptr ? keyFile : "");
        std::string content = PkiData(request.get());
        BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
        if (!data) throw std::bad_alloc();
        unsigned flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
        CmsPtr cms(CMS_sign(signer, lib.privateKey.get(), nullptr, nullptr, flags));
        if (!cms || CMS_set1_eContentType(cms.get(), OBJ_nid2obj(NID_id_cct_PKIData)) != 1 ||
            CMS_final(cms.get(), data.get(), nullptr, CMS_BINARY) != 1) {
            throw Failure{MESPRO_E_REQUEST_SIGN};
        }
        WritePem(requestFile, [&](BIO *bio) { return PEM_write_bio_CMS(bio, cms.get()); });
    });
}

}  // extern "C"
