// A test certification authority with a GOST key: issues certificates for public keys (SPKI DER), and
// checks requests and detached CMS signatures the way a relying party would, with OpenSSL.
#pragma once

#include <string>

#include "platform/softcsp/csp.h"
#include "platform/softcsp/ossl.h"

namespace softcsp::testing {

class TestCa {
public:
    TestCa();
    // A certificate for the key, subject CN=<commonName>, as DER.
    Bytes Issue(const Bytes &spki, const std::string &commonName) const;
    // A certificate for a request (DER PKCS #10), keeping its subject; empty if the request does not verify.
    Bytes IssueForRequest(const Bytes &request) const;
    const Bytes &Certificate() const { return certificate_; }

private:
    PkeyPtr key_;
    Bytes certificate_;
};

// Whether a DER PKCS #10 request verifies under its own public key.
bool RequestVerifies(const Bytes &request);
// Whether a detached DER CMS signature verifies over data, its signer certificate issued by ca.
bool CmsVerifies(const Bytes &signature, const Bytes &data, const TestCa &ca);
std::string ToPem(const Bytes &der, const char *label);

}  // namespace softcsp::testing
