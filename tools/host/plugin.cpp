// Loading a provider plug-in.
#include "tools/host/plugin.h"

#include <dlfcn.h>

#include <cstring>

namespace zolm::host {

void Plugin::Closer::operator()(void *handle) const { ::dlclose(handle); }

Plugin::Plugin(const std::string &path) {
    // A bare name would be looked for on the library path; the user means a file.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_.reset(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle_) {
        const char *why = ::dlerror();
        throw PluginError("cannot load the plug-in " + path + ": " + (why ? why : "unknown error"));
    }
    auto resolve = [&](auto &slot, const char *name) {
        void *symbol = ::dlsym(handle_.get(), name);
        if (symbol == nullptr) throw PluginError("the plug-in " + path + " does not export " + name);
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
    };
    resolve(Init, "cp_Init");
    resolve(Done, "cp_Done");
    resolve(Info, "cp_Info");
    resolve(GenerateKey, "cp_GenerateKey");
    resolve(MakeRequest, "cp_MakeRequest");
    resolve(MakeRequestCMC, "cp_MakeRequestCMC");
    resolve(StoreCertificate, "cp_StoreCertificate");
    resolve(ActivateKey, "cp_ActivateKey");
    resolve(DeactivateKey, "cp_DeactivateKey");
    resolve(DestroyKey, "cp_DestroyKey");
    resolve(CopyKey, "cp_CopyKey");
    resolve(SignData, "cp_SignData");
    resolve(CheckPassword, "cp_CheckPassword");
    resolve(ChangePassword, "cp_ChangePassword");
    resolve(ReleaseMemory, "cp_ReleaseMemory");
}

std::string Plugin::TakeResult(char *result) const {
    if (result == nullptr) return {};
    std::string text = result;
    ReleaseMemory(result, static_cast<uint32_t>(text.size() + 1));
    // An error text that happens to be empty is still an error.
    return text.empty() ? std::string("(empty error text)") : text;
}

}  // namespace zolm::host
