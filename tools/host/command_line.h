// zolm-host's command line: one command word and "--name value" / "--flag" options in any order.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zolm::host {

// A command-line mistake; main prints it with a hint to --help and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char *name;   // without the leading "--"
    const char *value;  // the value's placeholder for --help, or null for a flag
    const char *help;
};

class CommandLine {
public:
    // Parses argv[1..]; raises UsageError on an unknown option, a missing value or a second command.
    static CommandLine Parse(int argc, char **argv, const std::vector<OptionSpec> &options);

    const std::string &Command() const { return command_; }
    bool Has(const std::string &name) const { return values_.count(name) != 0; }
    // The last value of an option, if given.
    std::optional<std::string> Value(const std::string &name) const;
    // The value, or a UsageError naming the option the command needs.
    std::string Required(const std::string &name) const;
    const std::vector<std::string> &Values(const std::string &name) const;

private:
    std::string command_;
    std::map<std::string, std::vector<std::string>> values_;
};

}  // namespace zolm::host
