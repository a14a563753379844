// The library's state between ukep_Init and ukep_Done: its verification context and the certificate
// table that each enumeration rebuilds from the key containers and the store "My".
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/softcsp/csp.h"

namespace ukep {

struct CertificateRecord {
    // Container pass: the certificate's own container; store pass: the pass's verification context,
    // shared by all its records. 0 once ukep_Done has released it.
    softcsp::ProvHandle provider = 0;
    // The certificate and its link to the private key, which signing goes through. A container-pass
    // certificate is linked to the exchange key of the container it came from.
    softcsp::StoredCertificate certificate;
    // Container pass: the container holds the exchange key (the CSP has no key handles to keep).
    bool hasKey = false;
    std::string id;  // upper-case SHA-1 thumbprint; empty when hashing failed
    std::string displayName;
    uint64_t notBefore = 0, notAfter = 0;  // Windows file times
    std::string subjectJson, shortName, issuerName;
};

// Ordered by byte-wise comparison of the ids.
using CertificateTable = std::map<std::string, CertificateRecord>;

// ukep_Init: opens the library context and checks the CSP version; raises the Part's texts.
void Init();
// ukep_EnumerateCertificates: rebuilds the table and returns the list text. A failure raises and keeps
// the previous table.
std::string EnumerateCertificates();
// ukep_Done: releases the library context and every distinct handle of the records, once.
void Done();

// The current table (read by signing).
const CertificateTable &Table();

}  // namespace ukep
