// Gives each test process a shared data block name of its own (through $ZOLM_SHARED_DATA_NAME), so
// tests that create blocks can run side by side, and starts each test without a held view.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "common/shared_data.h"
#include "tools/host/shared_data_block.h"

namespace zolm::testing {

class PrivateSharedDataName {
public:
    PrivateSharedDataName() : name_("/zolm_shared_data_test_" + std::to_string(::getpid())) {
        ::setenv("ZOLM_SHARED_DATA_NAME", name_.c_str(), 1);
        host::SharedDataBlock::Remove(name_);
        ForgetSharedDataView();
    }
    ~PrivateSharedDataName() {
        host::SharedDataBlock::Remove(name_);
        ForgetSharedDataView();
        ::unsetenv("ZOLM_SHARED_DATA_NAME");
    }
    const std::string &Name() const { return name_; }

private:
    std::string name_;
};

}  // namespace zolm::testing
