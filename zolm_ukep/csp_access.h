// The CSP the library works with: the software CSP (libsoftcsp.so) unless a test has put a double in
// its place. Process-wide, like the library's other state.
#pragma once

#include "platform/softcsp/csp.h"

namespace ukep {

softcsp::Csp &Csp();
// For tests: the CSP to use from now on (not owned); null goes back to the software CSP.
void UseCsp(softcsp::Csp *csp);

}  // namespace ukep
