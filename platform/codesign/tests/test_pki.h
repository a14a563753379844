// Test certificates made in memory: roots, intermediates and signers with chosen names and usages.
#pragma once

#include <string>

namespace zolm::platform::codesign::testing {

struct Issued {
    std::string certPem;  // the certificate
    std::string keyPem;   // its private key (P-256, unencrypted)
};

struct LeafOptions {
    bool codeSigning = true;  // the code-signing extended key usage
    bool anyUsage = false;    // no extended key usage at all
    bool expired = false;     // validity ended yesterday
};

// A self-signed root CA.
Issued MakeRoot(const std::string &commonName);
// A CA certificate issued by issuer.
Issued MakeIntermediate(const Issued &issuer, const std::string &commonName);
// A signer certificate issued by issuer.
Issued MakeSigner(const Issued &issuer, const std::string &commonName, const LeafOptions &options = {});

}  // namespace zolm::platform::codesign::testing
