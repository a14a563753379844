// Parsing zolm-host's command line.
#include "tools/host/command_line.h"

#include <cstring>

namespace zolm::host {

CommandLine CommandLine::Parse(int argc, char **argv, const std::vector<OptionSpec> &options) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            if (!line.command_.empty())
                throw UsageError("unexpected argument \"" + arg + "\" after the command " + line.command_);
            line.command_ = arg;
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionSpec *option = nullptr;
        for (const auto &o : options)
            if (name == o.name) option = &o;
        if (option == nullptr) throw UsageError("unknown option --" + name);
        if (option->value == nullptr) {
            if (inlineValue) throw UsageError("--" + name + " takes no value");
            line.values_[name].push_back("");
        } else if (inlineValue) {
            line.values_[name].push_back(*inlineValue);
        } else {
            if (i + 1 >= argc) throw UsageError("--" + name + " needs a value (" + option->value + ")");
            line.values_[name].push_back(argv[++i]);
        }
    }
    return line;
}

std::optional<std::string> CommandLine::Value(const std::string &name) const {
    auto it = values_.find(name);
    if (it == values_.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
}

std::string CommandLine::Required(const std::string &name) const {
    auto value = Value(name);
    if (!value) throw UsageError("the command " + command_ + " needs --" + name);
    return *value;
}

const std::vector<std::string> &CommandLine::Values(const std::string &name) const {
    static const std::vector<std::string> none;
    auto it = values_.find(name);
    return it == values_.end() ? none : it->second;
}

}  // namespace zolm::host
