// zolm-host's HostServices: folder media, questions answered by --yes/--no or on the terminal, key
// presses from --keys or the terminal, parameters from --param name=value.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tools/host/folder_media.h"

namespace zolm::host {

class TerminalHost : public FolderMedia {
public:
    // answer: the fixed answer of --yes/--no, or none to ask on the terminal (no terminal: no).
    void SetAnswer(std::optional<bool> answer) { answer_ = answer; }
    void SetKeys(const std::string &keys) { keys_ = keys; }
    void SetParameter(const std::string &name, const std::string &value) { parameters_[name] = value; }

    bool Confirm(uint32_t medium, const std::string &question) override;
    bool KeyPress(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char &pressed) override;
    std::string Parameter(uint32_t medium, const std::string &name) override;

private:
    std::optional<bool> answer_;
    std::string keys_;
    std::map<std::string, std::string> parameters_;
};

}  // namespace zolm::host
