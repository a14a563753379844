// Enumeration: the container pass, the store pass, the merge, and the handles they hold.
#include "zolm_ukep/certificate_table.h"

#include <algorithm>
#include <set>
#include <vector>

#include "common/formatted_exception.h"
#include "zolm_ukep/certificate_fields.h"
#include "zolm_ukep/csp_access.h"
#include "zolm_ukep/texts.h"

namespace ukep {
namespace {

using softcsp::ProvHandle;

ProvHandle g_context = 0;  // the library context: only for computing ids
CertificateTable g_table;

constexpr char kRsaArc[] = "1.2.840.113549";

void ReleaseAll(const std::set<ProvHandle> &handles) {
    for (ProvHandle handle : handles)
        if (handle != 0) Csp().ReleaseContext(handle);
}

// Handles a set of records and pass contexts opened; released on destruction unless kept.
struct OpenedHandles {
    std::set<ProvHandle> handles;
    ~OpenedHandles() { ReleaseAll(handles); }
};

ProvHandle AcquirePassContext() {
    ProvHandle handle = 0;
    uint32_t code = Csp().AcquireContext(&handle, nullptr, kProviderName, kProviderType, softcsp::CRYPT_VERIFYCONTEXT);
    if (handle == 0) throw formatted_exception(kPassAcquireFailed, code);
    return handle;
}

std::string IdOf(const softcsp::Bytes &der) {
    softcsp::Bytes digest;
    if (g_context == 0 || Csp().Sha1(g_context, der.data(), der.size(), &digest) != 0) return "";
    return HexId(digest);
}

// CERT_NAME_SIMPLE_DISPLAY_TYPE from the decoded subject: the first commonName, else the first
// organizationalUnitName, organizationName or emailAddress.
std::string SimpleDisplayName(const softcsp::DecodedName &subject) {
    for (const char *oid : {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"})
        for (const auto &rdn : subject)
            for (const auto &attribute : rdn)
                if (attribute.oid == oid) return attribute.value;
    return "";
}

// Applies the eligibility filters 1 and (store pass) 2, then fills every field from the certificate's
// DER. False when the certificate is refused or cannot be read; the certificate is read only once.
bool Describe(CertificateRecord &record, bool storePass) {
    const softcsp::Bytes &der = record.certificate.der;
    softcsp::CertificateFacts facts;
    if (softcsp::ReadCertificateFacts(der, &facts) != 0) return false;
    if (facts.signatureAlgorithmOid.compare(0, sizeof kRsaArc - 1, kRsaArc) == 0) return false;
    if (storePass && facts.basicConstraintsCa == 1) return false;
    // A name that cannot be decoded contributes no attribute.
    softcsp::DecodedName subject;
    if (softcsp::DecodeName(facts.subject, &subject) != 0) subject.clear();
    record.displayName = SimpleDisplayName(subject);
    if (storePass && record.displayName.empty()) return false;
    record.id = IdOf(der);
    record.notBefore = facts.notBefore;
    record.notAfter = facts.notAfter;
    SubjectFields fields = DescribeSubject(subject);
    record.subjectJson = std::move(fields.json);
    record.shortName = std::move(fields.shortName);
    if (storePass) {
        softcsp::DecodedName issuer;
        if (softcsp::DecodeName(facts.issuer, &issuer) == 0) record.issuerName = IssuerCommonName(issuer);
    }
    return true;
}

std::vector<CertificateRecord> ContainerPass(OpenedHandles &opened) {
    std::vector<CertificateRecord> records;
    softcsp::Csp &csp = Csp();
    ProvHandle enumeration = AcquirePassContext();
    std::vector<std::string> containers;
    uint32_t code = csp.EnumContainers(enumeration, &containers);
    csp.ReleaseContext(enumeration);
    if (code != 0) return records;
    for (const std::string &name : containers) {
        ProvHandle handle = 0;
        if (csp.AcquireContext(&handle, name.c_str(), kProviderName, kProviderType, 0) != 0 || handle == 0) continue;
        CertificateRecord record;
        record.provider = handle;
        softcsp::Bytes der;
        if (csp.HasKey(handle, softcsp::AT_KEYEXCHANGE) != 0 ||
            csp.GetKeyCertificate(handle, softcsp::AT_KEYEXCHANGE, &der) != 0) {
            csp.ReleaseContext(handle);
            continue;
        }
        opened.handles.insert(handle);
        record.hasKey = true;
        // A certificate read from a container is linked to that container's key, so it passes the
        // key-link filter and signing reaches the key it was stored with.
        record.certificate.keyProv = softcsp::KeyProvInfo{name, kProviderName, kProviderType, softcsp::AT_KEYEXCHANGE};
        record.certificate.der = std::move(der);
        if (Describe(record, false)) {
            records.push_back(std::move(record));
        } else {
            opened.handles.erase(handle);
            csp.ReleaseContext(handle);
        }
    }
    return records;
}

std::vector<CertificateRecord> StorePass(OpenedHandles &opened) {
    std::vector<CertificateRecord> records;
    softcsp::Csp &csp = Csp();
    std::vector<softcsp::StoredCertificate> stored;
    if (uint32_t code = csp.ListStore(kStoreName, &stored)) throw formatted_exception(kStoreOpenFailed, code);
    ProvHandle context = AcquirePassContext();
    opened.handles.insert(context);
    for (auto &certificate : stored) {
        // Filter 3: a certificate without a link to a private key cannot sign.
        if (!certificate.keyProv) continue;
        CertificateRecord record;
        record.provider = context;
        record.certificate = std::move(certificate);
        if (Describe(record, true)) records.push_back(std::move(record));
    }
    return records;
}

// Pass results are assigned in id order, so within a pass the last of equal ids wins, and the store
// pass, assigned second, wins over the container pass.
void AssignInIdOrder(std::vector<CertificateRecord> &records, CertificateTable &table) {
    std::stable_sort(records.begin(), records.end(),
                     [](const CertificateRecord &a, const CertificateRecord &b) { return a.id < b.id; });
    for (auto &record : records) table[record.id] = std::move(record);
}

}  // namespace

void Init() {
    softcsp::Csp &csp = Csp();
    ProvHandle handle = 0;
    uint32_t code = csp.AcquireContext(&handle, nullptr, kProviderName, kProviderType, softcsp::CRYPT_VERIFYCONTEXT);
    if (code != 0 || handle == 0) throw formatted_exception(kInitAcquireFailed, code);
    uint32_t version = 0;
    code = csp.GetVersion(handle, &version);
    if (code != 0) {
        csp.ReleaseContext(handle);
        throw formatted_exception(kInitVersionFailed, code);
    }
    if (version < 0x0400 || version > 0x05FF) {
        csp.ReleaseContext(handle);
        throw formatted_exception(kUnknownVersion, version & 0xFFFF);
    }
    // A second ukep_Init does not leak the first context.
    if (g_context != 0) csp.ReleaseContext(g_context);
    g_context = handle;
}

std::string EnumerateCertificates() {
    OpenedHandles opened;
    std::vector<CertificateRecord> containerRecords = ContainerPass(opened);
    std::vector<CertificateRecord> storeRecords = StorePass(opened);
    CertificateTable table;
    AssignInIdOrder(containerRecords, table);
    AssignInIdOrder(storeRecords, table);

    std::string list;
    for (const auto &[id, record] : table) {
        if (!list.empty()) list += ',';
        list += CertificateLine({record.id, record.displayName, record.subjectJson, record.shortName, record.issuerName,
                                 record.notBefore, record.notAfter});
    }

    // The new table keeps the handles its records hold; the rest of this run's handles (replaced
    // records, a pass context no record holds) and every handle of the old table are released.
    std::set<ProvHandle> stale;
    for (const auto &[id, record] : g_table) stale.insert(record.provider);
    for (const auto &[id, record] : table) opened.handles.erase(record.provider);
    g_table.swap(table);
    table.clear();
    ReleaseAll(stale);
    return list;
}

void Done() {
    softcsp::Csp &csp = Csp();
    if (g_context != 0) {
        csp.ReleaseContext(g_context);
        g_context = 0;
    }
    std::set<ProvHandle> released;
    for (auto &[id, record] : g_table) {
        record.hasKey = false;
        if (record.provider != 0 && released.insert(record.provider).second) csp.ReleaseContext(record.provider);
        record.provider = 0;
    }
}

const CertificateTable &Table() { return g_table; }

}  // namespace ukep
