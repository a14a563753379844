// Test support: a GOST test CA that issues certificates for requests, and OpenSSL-side checks of
// what the library and the plug-in write (requests, CMC requests, CMS signatures).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/mespro/ossl.h"

namespace mespro_test {

// A temporary directory, removed with its contents at the end of the scope; Path() ends with "/".
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);

class TestCa {
public:
    TestCa();  // a self-signed GOST R 34.10-2012 CA, valid for a day
    // Issues a certificate (PEM) for a PKCS #10 request (PEM), copying its subject and extensions.
    std::string Issue(const std::string &requestPem);
    X509 *Certificate() const { return cert_.get(); }
    std::string CertificatePem() const;

private:
    mespro::PkeyPtr key_;
    mespro::X509Ptr cert_;
};

mespro::X509ReqPtr ReadRequest(const std::string &pem);
mespro::X509Ptr ReadCertificatePem(const std::string &pem);
// Upper-case hexadecimal without leading zero bytes, as the library prints serial numbers.
std::string SerialHex(X509 *certificate);
// (OID, UTF-8 value) of each subject attribute, in order.
std::vector<std::pair<std::string, std::string>> SubjectOf(X509_NAME *name);
// The extension of that NID in a request printed as OpenSSL prints it; "" when absent.
std::string RequestExtension(X509_REQ *request, int nid, bool *critical = nullptr);

struct SignatureCheck {
    bool verified = false;     // verifies over the data with the certificate it carries
    bool signingTime = false;  // carries a signing-time signed attribute
    bool detached = false;
    std::string signerSerial;  // upper-case hexadecimal
    std::string content;       // the signed content when attached
    std::string contentType;   // dotted OID of eContentType
};
// data may be empty for an attached signature; trusted may be null (no chain check).
SignatureCheck CheckSignature(const std::string &cms, bool pem, const std::string *data, X509 *trusted);

}  // namespace mespro_test
