// The process's CSP: created on first use from the user's CSP folder, kept until the library unloads.
#include "zolm_ukep/csp_access.h"

#include <memory>

namespace ukep {
namespace {
softcsp::Csp *g_double = nullptr;
}

softcsp::Csp &Csp() {
    if (g_double != nullptr) return *g_double;
    static const std::unique_ptr<softcsp::Csp> real = softcsp::OpenSoftCsp();
    return *real;
}

void UseCsp(softcsp::Csp *csp) { g_double = csp; }

}  // namespace ukep
