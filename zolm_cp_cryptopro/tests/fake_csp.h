// A CSP double: answers with the codes and version word a test sets, and records what it was asked.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/softcsp/csp.h"

namespace cryptopro::testing {

class FakeCsp : public softcsp::Csp {
public:
    // Settings.
    uint32_t version = 0x0500;
    uint32_t acquireCode = 0;
    uint32_t versionCode = 0;
    uint32_t releaseCode = 0;
    uint32_t pinCode = 0;
    uint32_t signCode = 0;
    uint32_t generateCode = 0;
    std::set<softcsp::ProvHandle> dead;  // handles that fail the probe

    // Records.
    struct Acquisition {
        std::string container;
        std::string provider;
        uint32_t type;
        uint32_t flags;
    };
    std::vector<Acquisition> acquired;
    std::vector<softcsp::ProvHandle> released;
    std::set<softcsp::ProvHandle> open;
    std::vector<std::string> pins;
    std::vector<std::string> digests;

    uint32_t AcquireContext(softcsp::ProvHandle *handle, const char *container, const char *providerName,
                            uint32_t providerType, uint32_t flags) override;
    uint32_t ReleaseContext(softcsp::ProvHandle handle) override;
    uint32_t GetVersion(softcsp::ProvHandle handle, uint32_t *version) override;
    uint32_t ProbeContext(softcsp::ProvHandle handle) override;
    uint32_t SetSignatureParamSet(softcsp::ProvHandle, const char *) override { return 0; }
    uint32_t SetPin(softcsp::ProvHandle, const char *pin) override;
    uint32_t ChangePin(softcsp::ProvHandle, const char *) override { return 0; }
    uint32_t GenerateKey(softcsp::ProvHandle, uint32_t) override { return generateCode; }
    uint32_t ExportPublicKeyInfo(softcsp::ProvHandle, uint32_t, softcsp::Bytes *) override {
        return softcsp::NTE_NO_KEY;
    }
    uint32_t SignRequest(softcsp::ProvHandle, uint32_t, const softcsp::Bytes &, const std::string &,
                         softcsp::Bytes *) override {
        return softcsp::NTE_NO_KEY;
    }
    uint32_t SignMessage(softcsp::ProvHandle, uint32_t, const softcsp::Bytes &, const std::string &digestOid,
                         const uint8_t *, size_t, softcsp::Bytes *signature) override {
        digests.push_back(digestOid);
        if (signCode == 0) *signature = {0x30, 0x00};
        return signCode;
    }
    uint32_t EnumContainers(softcsp::ProvHandle, std::vector<std::string> *) override { return 0; }
    uint32_t HasKey(softcsp::ProvHandle, uint32_t) override { return softcsp::NTE_NO_KEY; }
    uint32_t GetKeyCertificate(softcsp::ProvHandle, uint32_t, softcsp::Bytes *) override { return softcsp::NTE_NO_KEY; }
    uint32_t SetKeyCertificate(softcsp::ProvHandle, uint32_t, const softcsp::Bytes &) override {
        return softcsp::NTE_NO_KEY;
    }
    uint32_t ListStore(const std::string &, std::vector<softcsp::StoredCertificate> *) override { return 0; }
    uint32_t AddToStore(const std::string &, const softcsp::StoredCertificate &) override { return 0; }
    uint32_t SignMessageWithLink(const softcsp::StoredCertificate &, const std::string &, const uint8_t *, size_t,
                                 softcsp::Bytes *) override {
        return softcsp::CRYPT_E_NO_KEY_PROPERTY;
    }
    uint32_t Sha1(softcsp::ProvHandle, const uint8_t *, size_t, softcsp::Bytes *) override { return 0; }

private:
    softcsp::ProvHandle next_ = 11;
};

}  // namespace cryptopro::testing
