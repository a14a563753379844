// The CSP the plug-in works with: the software CSP (libsoftcsp.so) unless a test has put a double in
// its place. Process-wide, like the plug-in's other state.
#pragma once

#include "platform/softcsp/csp.h"

namespace cryptopro {

softcsp::Csp &Csp();
// For tests: the CSP to use from now on (not owned); null goes back to the software CSP.
void UseCsp(softcsp::Csp *csp);

}  // namespace cryptopro
