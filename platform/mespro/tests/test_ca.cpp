// Test CA and OpenSSL-side checks for the library's and the plug-in's outputs.
#include "platform/mespro/tests/test_ca.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace mespro_test {
using namespace mespro;

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mespro-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {
void Check(bool ok, const char *what) {
    if (!ok) throw std::runtime_error(std::string("OpenSSL: ") + what);
}

void SetSerialAndValidity(X509 *cert) {
    unsigned char bytes[8];
    Check(RAND_bytes(bytes, sizeof bytes) == 1, "RAND_bytes");
    bytes[0] &= 0x7F;
    bytes[0] |= 0x10;
    std::unique_ptr<BIGNUM, OsslDeleter<BN_free>> number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    Check(BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert)) != nullptr, "serial");
    Check(X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr, "notBefore");
    Check(X509_gmtime_adj(X509_getm_notAfter(cert), 86400) != nullptr, "notAfter");
}

std::string Pem(X509 *cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    Check(PEM_write_bio_X509(bio.get(), cert) == 1, "PEM_write_bio_X509");
    char *data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}
}  // namespace

TestCa::TestCa() {
    Check(GostEngineReady(), "GOST engine");
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NID_id_GostR3410_2012_256, nullptr));
    Check(ctx && EVP_PKEY_keygen_init(ctx.get()) > 0 && EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") > 0,
          "CA key parameters");
    EVP_PKEY *key = nullptr;
    Check(EVP_PKEY_keygen(ctx.get(), &key) > 0, "CA key");
    key_.reset(key);
    cert_.reset(X509_new());
    Check(X509_set_version(cert_.get(), 2) == 1, "version");
    SetSerialAndValidity(cert_.get());
    X509_NAME *name = X509_get_subject_name(cert_.get());
    Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Test CA"), -1,
                                     -1, 0) == 1,
          "CA name");
    Check(X509_set_issuer_name(cert_.get(), name) == 1 && X509_set_pubkey(cert_.get(), key_.get()) == 1, "CA cert");
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, cert_.get(), cert_.get(), nullptr, nullptr, 0);
    ExtensionPtr ext(X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints, "critical,CA:TRUE"));
    Check(ext && X509_add_ext(cert_.get(), ext.get(), -1) == 1, "CA basic constraints");
    Check(X509_sign(cert_.get(), key_.get(), EVP_get_digestbynid(NID_id_GostR3411_2012_256)) > 0, "CA sign");
}

std::string TestCa::CertificatePem() const { return Pem(cert_.get()); }

std::string TestCa::Issue(const std::string &requestPem) {
    X509ReqPtr request = ReadRequest(requestPem);
    PkeyPtr key(X509_REQ_get_pubkey(request.get()));
    Check(key && X509_REQ_verify(request.get(), key.get()) == 1, "request signature");
    X509Ptr cert(X509_new());
    Check(X509_set_version(cert.get(), 2) == 1, "version");
    SetSerialAndValidity(cert.get());
    Check(X509_set_subject_name(cert.get(), X509_REQ_get_subject_name(request.get())) == 1 &&
              X509_set_issuer_name(cert.get(), X509_get_subject_name(cert_.get())) == 1 &&
              X509_set_pubkey(cert.get(), key.get()) == 1,
          "certificate fields");
    ExtStackPtr extensions(X509_REQ_get_extensions(request.get()));
    for (int i = 0; extensions && i < sk_X509_EXTENSION_num(extensions.get()); ++i) {
        Check(X509_add_ext(cert.get(), sk_X509_EXTENSION_value(extensions.get(), i), -1) == 1, "extension");
    }
    Check(X509_sign(cert.get(), key_.get(), EVP_get_digestbynid(NID_id_GostR3411_2012_256)) > 0, "sign");
    return Pem(cert.get());
}

X509ReqPtr ReadRequest(const std::string &pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509ReqPtr request(PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr));
    Check(request != nullptr, "PEM_read_bio_X509_REQ");
    return request;
}

mespro::X509Ptr ReadCertificatePem(const std::string &pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Check(cert != nullptr, "PEM_read_bio_X509");
    return cert;
}

std::string SerialHex(X509 *certificate) {
    std::unique_ptr<BIGNUM, OsslDeleter<BN_free>> serial(
        ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
    char *hex = BN_bn2hex(serial.get());
    std::string text = hex;
    OPENSSL_free(hex);
    return text;
}

std::vector<std::pair<std::string, std::string>> SubjectOf(X509_NAME *name) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        char oid[128];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        unsigned char *utf8 = nullptr;
        int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        Check(length >= 0, "ASN1_STRING_to_UTF8");
        entries.emplace_back(oid, std::string(reinterpret_cast<char *>(utf8), static_cast<size_t>(length)));
        OPENSSL_free(utf8);
    }
    return entries;
}

std::string RequestExtension(X509_REQ *request, int nid, bool *critical) {
    ExtStackPtr extensions(X509_REQ_get_extensions(request));
    for (int i = 0; extensions && i < sk_X509_EXTENSION_num(extensions.get()); ++i) {
        X509_EXTENSION *ext = sk_X509_EXTENSION_value(extensions.get(), i);
        if (OBJ_obj2nid(X509_EXTENSION_get_object(ext)) != nid) continue;
        if (critical != nullptr) *critical = X509_EXTENSION_get_critical(ext) != 0;
        BioPtr out(BIO_new(BIO_s_mem()));
        if (X509V3_EXT_print(out.get(), ext, 0, 0) != 1) {
            ASN1_STRING_print(out.get(), X509_EXTENSION_get_data(ext));
        }
        char *data = nullptr;
        long length = BIO_get_mem_data(out.get(), &data);
        return std::string(data, static_cast<size_t>(length));
    }
    return "";
}

SignatureCheck CheckSignature(const std::string &cms, bool pem, const std::string *data, X509 *trusted) {
    SignatureCheck result;
    BioPtr in(BIO_new_mem_buf(cms.data(), static_cast<int>(cms.size())));
    CmsPtr info(pem ? PEM_read_bio_CMS(in.get(), nullptr, nullptr, nullptr) : d2i_CMS_bio(in.get(), nullptr));
    if (!info) return result;
    result.detached = CMS_is_detached(info.get()) == 1;
    char oid[128];
    OBJ_obj2txt(oid, sizeof oid, CMS_get0_eContentType(info.get()), 1);
    result.contentType = oid;
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(info.get());
    if (sk_CMS_SignerInfo_num(signers) == 1) {
        CMS_SignerInfo *si = sk_CMS_SignerInfo_value(signers, 0);
        result.signingTime = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1) >= 0;
    }
    X509StorePtr store(X509_STORE_new());
    unsigned flags = CMS_BINARY;
    if (trusted != nullptr) {
        X509_STORE_add_cert(store.get(), trusted);
        X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    } else {
        flags |= CMS_NO_SIGNER_CERT_VERIFY;
    }
    BioPtr content(data != nullptr ? BIO_new_mem_buf(data->data(), static_cast<int>(data->size())) : nullptr);
    BioPtr out(BIO_new(BIO_s_mem()));
    result.verified = CMS_verify(info.get(), nullptr, store.get(), content.get(), out.get(), flags) == 1;
    char *bytes = nullptr;
    long length = BIO_get_mem_data(out.get(), &bytes);
    result.content.assign(bytes, static_cast<size_t>(length));
    STACK_OF(X509) *certs = CMS_get0_signers(info.get());
    if (sk_X509_num(certs) == 1) {
        result.signerSerial = SerialHex(sk_X509_value(certs, 0));
    }
    sk_X509_free(certs);
    ERR_clear_error();
    return result;
}

}  // namespace mespro_test
