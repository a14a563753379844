// The CSP double's bookkeeping.
#include "zolm_cp_cryptopro/tests/fake_csp.h"

namespace cryptopro::testing {

uint32_t FakeCsp::AcquireContext(softcsp::ProvHandle *handle, const char *container, const char *providerName,
                                 uint32_t providerType, uint32_t flags) {
    acquired.push_back({container ? container : "(none)", providerName ? providerName : "(null)", providerType, flags});
    if (acquireCode != 0) return acquireCode;
    *handle = next_++;
    open.insert(*handle);
    return 0;
}

uint32_t FakeCsp::ReleaseContext(softcsp::ProvHandle handle) {
    released.push_back(handle);
    open.erase(handle);
    return releaseCode;
}

uint32_t FakeCsp::GetVersion(softcsp::ProvHandle, uint32_t *word) {
    if (versionCode != 0) return versionCode;
    *word = version;
    return 0;
}

uint32_t FakeCsp::ProbeContext(softcsp::ProvHandle handle) {
    return dead.count(handle) != 0 || open.count(handle) == 0 ? softcsp::NTE_BAD_UID : 0;
}

uint32_t FakeCsp::SetPin(softcsp::ProvHandle, const char *pin) {
    pins.push_back(pin ? pin : "(null)");
    return pinCode;
}

}  // namespace cryptopro::testing
