// Loading of OpenSSL's GOST engine (Debian's libengine-gost-openssl), shared with the tests.
#include <openssl/engine.h>

#include "platform/mespro/ossl.h"

namespace mespro {

bool GostEngineReady() {
    static const bool ready = [] {
        ENGINE_load_builtin_engines();
        ENGINE *engine = ENGINE_by_id("gost");
        if (engine == nullptr) return false;
        bool ok = ENGINE_init(engine) == 1 && ENGINE_set_default(engine, ENGINE_METHOD_ALL) == 1;
        // The functional reference taken by ENGINE_init keeps the engine for the life of the process.
        ENGINE_free(engine);
        return ok;
    }();
    return ready;
}

}  // namespace mespro
