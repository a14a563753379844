// A provider plug-in loaded by path with dlopen, its fifteen exports resolved by name.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "zolm/provider.h"

namespace zolm::host {

// The plug-in could not be loaded or lacks an export; the text says which.
struct PluginError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Plugin {
public:
    // Loads the library (RTLD_NOW | RTLD_LOCAL) and resolves every export; raises PluginError.
    explicit Plugin(const std::string &path);

    cp_Init_fn *Init;
    cp_Done_fn *Done;
    cp_Info_fn *Info;
    cp_GenerateKey_fn *GenerateKey;
    cp_MakeRequest_fn *MakeRequest;
    cp_MakeRequestCMC_fn *MakeRequestCMC;
    cp_StoreCertificate_fn *StoreCertificate;
    cp_ActivateKey_fn *ActivateKey;
    cp_DeactivateKey_fn *DeactivateKey;
    cp_DestroyKey_fn *DestroyKey;
    cp_CopyKey_fn *CopyKey;
    cp_SignData_fn *SignData;
    cp_CheckPassword_fn *CheckPassword;
    cp_ChangePassword_fn *ChangePassword;
    cp_ReleaseMemory_fn *ReleaseMemory;

    // Takes an error text (or null) from a call: returns its copy, empty for success, and gives the
    // block back with cp_ReleaseMemory(text, length + 1).
    std::string TakeResult(char *result) const;

private:
    struct Closer {
        void operator()(void *handle) const;
    };
    std::unique_ptr<void, Closer> handle_;
};

}  // namespace zolm::host
