// The CryptoPro plug-in's CSP double, taught the enumeration and link-signing calls: containers with
// exchange-key certificates, the store "My", and a code for each CryptSignMessage call in turn.
#pragma once

#include <openssl/sha.h>

#include <deque>
#include <map>

#include "zolm_cp_cryptopro/tests/fake_csp.h"

namespace ukep::testing {

class UkepFakeCsp : public cryptopro::testing::FakeCsp {
public:
    std::map<std::string, softcsp::Bytes> containers;  // full path -> exchange-key certificate
    std::vector<softcsp::StoredCertificate> store;
    uint32_t storeCode = 0;
    uint32_t enumCode = 0;
    std::deque<uint32_t> linkCodes;     // one per SignMessageWithLink call; none left: success
    std::vector<std::string> linkOids;  // hash OIDs the calls were given

    uint32_t AcquireContext(softcsp::ProvHandle *handle, const char *container, const char *providerName,
                            uint32_t providerType, uint32_t flags) override {
        uint32_t code = FakeCsp::AcquireContext(handle, container, providerName, providerType, flags);
        if (code == 0) containerOf_[*handle] = container ? container : "";
        return code;
    }
    uint32_t EnumContainers(softcsp::ProvHandle, std::vector<std::string> *names) override {
        if (enumCode != 0) return enumCode;
        names->clear();
        for (const auto &entry : containers) names->push_back(entry.first);
        return 0;
    }
    uint32_t HasKey(softcsp::ProvHandle handle, uint32_t keySpec) override {
        return keySpec == softcsp::AT_KEYEXCHANGE && containers.count(containerOf_[handle]) ? 0 : softcsp::NTE_NO_KEY;
    }
    uint32_t GetKeyCertificate(softcsp::ProvHandle handle, uint32_t keySpec, softcsp::Bytes *certificate) override {
        if (HasKey(handle, keySpec) != 0) return softcsp::NTE_NO_KEY;
        *certificate = containers[containerOf_[handle]];
        return 0;
    }
    uint32_t ListStore(const std::string &, std::vector<softcsp::StoredCertificate> *certificates) override {
        if (storeCode != 0) return storeCode;
        *certificates = store;
        return 0;
    }
    uint32_t SignMessageWithLink(const softcsp::StoredCertificate &, const std::string &oid, const uint8_t *, size_t,
                                 softcsp::Bytes *signature) override {
        linkOids.push_back(oid);
        uint32_t code = 0;
        if (!linkCodes.empty()) {
            code = linkCodes.front();
            linkCodes.pop_front();
        }
        if (code == 0) *signature = {0x30, 0x03, 0x02, 0x01, 0x07};
        return code;
    }
    uint32_t Sha1(softcsp::ProvHandle handle, const uint8_t *data, size_t length, softcsp::Bytes *digest) override {
        if (open.count(handle) == 0) return softcsp::NTE_BAD_UID;
        digest->resize(SHA_DIGEST_LENGTH);
        SHA1(data, length, digest->data());
        return 0;
    }

private:
    std::map<softcsp::ProvHandle, std::string> containerOf_;
};

}  // namespace ukep::testing
