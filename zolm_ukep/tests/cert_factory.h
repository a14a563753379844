// Certificates for the UKEP tests, made with OpenSSL: any subject and issuer name, GOST 2012-256 or
// -512 or RSA issuer keys, with or without the CA flag.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/ossl.h"

namespace ukep::testing {

// Attributes of one name, each its own RDN, in order: (dotted OID or short name, UTF-8 value).
using NameSpec = std::vector<std::pair<std::string, std::string>>;

enum class IssuerKey { Gost256, Gost512, Rsa };

struct CertSpec {
    NameSpec subject = {{"CN", "Test"}};
    NameSpec issuer = {{"CN", "Test CA"}};
    IssuerKey issuerKey = IssuerKey::Gost256;
    bool ca = false;
    // Validity as Unix times.
    long notBefore = 1700000000;
    long notAfter = 1900000000;
};

// A certificate for the public key (SPKI DER; empty: a new GOST 2012-256 key of its own).
softcsp::Bytes MakeCertificate(const CertSpec &wanted, const softcsp::Bytes &spki = {});
// The issuer certificate (self-signed, CN "Test CA") of the GOST 2012-256 issuer key, as PEM.
std::string IssuerPem();

}  // namespace ukep::testing
