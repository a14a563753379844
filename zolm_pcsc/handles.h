// Owners of the two PC/SC handle kinds. Each closes its handle exactly once: explicitly, where the
// caller needs the result, or on destruction, where the result is ignored (undo after a failure).
#pragma once

#include <utility>

#include "zolm_pcsc/pcsc_api.h"

namespace zolm::pcsc {

template <typename Value, LONG (*Close)(PcscApi &, Value)>
class PcscHandle {
public:
    explicit PcscHandle(PcscApi &api) noexcept : api_(&api) {}
    PcscHandle(const PcscHandle &) = delete;
    PcscHandle &operator=(const PcscHandle &) = delete;
    ~PcscHandle() { (void)Release(); }

    // Where a PC/SC call writes a new handle; the handle is owned once the call succeeded (Adopt).
    Value *Receive() noexcept { return &value_; }
    void Adopt() noexcept { open_ = true; }

    Value Get() const noexcept { return value_; }
    bool IsOpen() const noexcept { return open_; }

    // Closes the handle; it counts as closed afterwards whatever the result. Success when none is open.
    LONG Release() noexcept {
        if (!open_) return SCARD_S_SUCCESS;
        open_ = false;
        return Close(*api_, value_);
    }

private:
    PcscApi *api_;
    Value value_{};
    bool open_ = false;
};

inline LONG ReleaseContextHandle(PcscApi &api, SCARDCONTEXT context) { return api.ReleaseContext(context); }
// The card stays in place, unreset, for other applications.
inline LONG DisconnectCardHandle(PcscApi &api, SCARDHANDLE card) { return api.Disconnect(card, SCARD_LEAVE_CARD); }

using ContextHandle = PcscHandle<SCARDCONTEXT, &ReleaseContextHandle>;
using CardHandle = PcscHandle<SCARDHANDLE, &DisconnectCardHandle>;

}  // namespace zolm::pcsc
