// The PC/SC commands of zolm-host on zolm_pcsc.so's exports.
#include "tools/host/pcsc_commands.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "zolm/pcsc.h"

namespace zolm::host {
namespace {

constexpr int kOk = 0;
constexpr int kLibraryError = 1;
constexpr int kUsage = 2;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An error text of the library, released after it has been read.
class LibraryText {
public:
    explicit LibraryText(char *text) : text_(text) {}
    ~LibraryText() {
        if (text_ != nullptr) pcsc_ReleaseMemory(text_, static_cast<uint32_t>(std::strlen(text_) + 1));
    }
    LibraryText(const LibraryText &) = delete;
    LibraryText &operator=(const LibraryText &) = delete;
    explicit operator bool() const { return text_ != nullptr; }
    const char *Get() const { return text_; }

private:
    char *text_;
};

std::string ToHex(const uint8_t *data, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

// "00A40000", "00 A4 00 00" or "00:A4:00:00".
std::vector<uint8_t> ParseHex(const std::string &text) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw UsageError("not a hex APDU: \"" + text + "\"");
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) throw UsageError("not a hex APDU: \"" + text + "\"");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The ISO/IEC 7816-4 case of a short APDU from its length and Lc: header only (1), header and Le (2),
// header, Lc and data (3), and the same followed by Le (4).
int32_t CaseOf(const std::vector<uint8_t> &apdu) {
    size_t length = apdu.size();
    if (length == 4) return 1;
    if (length == 5) return 2;
    if (length > 5) {
        size_t lc = apdu[4];
        if (lc != 0 && length == 5 + lc) return 3;
        if (lc != 0 && length == 6 + lc) return 4;
    }
    throw UsageError("cannot tell the case of APDU " + ToHex(apdu.data(), apdu.size()) + ": give --case");
}

int ListReaders(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    if (args.size() > 1) throw UsageError("pcsc-readers takes no arguments");
    char *list = nullptr;
    LibraryText error(pcsc_ListReaders(&list));
    if (error) {
        err << error.Get() << "\n";
        return kLibraryError;
    }
    if (list == nullptr) {
        err << "no smart-card reader found\n";
        return kOk;
    }
    const char *name = list;
    while (*name != '\0') {
        out << name << "\n";
        name += std::strlen(name) + 1;
    }
    pcsc_ReleaseMemory(list, static_cast<uint32_t>(name - list + 1));
    return kOk;
}

int Send(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    std::optional<std::string> reader;
    std::optional<int32_t> forcedCase;
    bool showAtr = false;
    std::vector<std::vector<uint8_t>> apdus;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--reader" || arg == "--case") {
            if (i + 1 == args.size()) throw UsageError(arg + " needs a value");
            const std::string &value = args[++i];
            if (arg == "--reader") {
                reader = value;
            } else {
                if (value.size() != 1 || value[0] < '1' || value[0] > '4')
                    throw UsageError("--case takes 1, 2, 3 or 4, not \"" + value + "\"");
                forcedCase = value[0] - '0';
            }
        } else if (arg == "--atr") {
            showAtr = true;
        } else if (arg.rfind("--", 0) == 0) {
            throw UsageError("unknown option " + arg);
        } else {
            apdus.push_back(ParseHex(arg));
        }
    }
    if (!reader) throw UsageError("pcsc-send needs --reader");
    if (apdus.empty() && !showAtr) throw UsageError("pcsc-send needs at least one APDU");
    std::vector<int32_t> cases;
    for (const auto &apdu : apdus) cases.push_back(forcedCase ? *forcedCase : CaseOf(apdu));

    ReaderHandle *handle = nullptr;
    uint8_t atr[64];
    uint32_t atrLength = sizeof atr;
    {
        LibraryText error(pcsc_OpenReader(reader->c_str(), &handle, atr, &atrLength));
        if (error) {
            err << error.Get() << "\n";
            return kLibraryError;
        }
    }
    if (showAtr) out << "ATR " << ToHex(atr, atrLength) << "\n";
    int status = kOk;
    for (size_t i = 0; i < apdus.size() && status == kOk; ++i) {
        uint8_t *response = nullptr;
        uint32_t length = 0;
        LibraryText error(pcsc_SendCommand(handle, apdus[i].data(), static_cast<uint32_t>(apdus[i].size()), cases[i],
                                           &response, &length));
        if (error) {
            err << error.Get() << "\n";
            status = kLibraryError;
            break;
        }
        out << ToHex(response, length) << "\n";
        pcsc_ReleaseMemory(response, length);
    }
    LibraryText closing(pcsc_CloseReader(handle));
    if (closing) {
        err << closing.Get() << "\n";
        status = kLibraryError;
    }
    return status;
}

}  // namespace

bool IsPcscCommand(const std::string &word) { return word == "pcsc-readers" || word == "pcsc-send"; }

int RunPcscCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    try {
        if (args.empty() || !IsPcscCommand(args[0]))
            throw UsageError("unknown command \"" + (args.empty() ? std::string() : args[0]) + "\"");
        return args[0] == "pcsc-readers" ? ListReaders(args, out, err) : Send(args, out, err);
    } catch (const UsageError &e) {
        err << e.what() << " (see --help)\n";
        return kUsage;
    }
}

std::string PcscHelpText() {
    return "  pcsc-readers\n"
           "      List the smart-card readers, one name a line.\n"
           "  pcsc-send --reader NAME [--case 1-4] [--atr] APDU...\n"
           "      Connect to the card in reader NAME and send each APDU (hex, e.g. 00A4040000); print each\n"
           "      response as hex, status word last. The case comes from the APDU's length unless --case\n"
           "      gives it; --atr prints the card's ATR first.\n";
}

}  // namespace zolm::host
