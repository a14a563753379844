// zolm-host's UKEP commands on zolm_ukep.so's exports: list the certificates (decoded or as the raw
// list text) and sign a file with one of them.
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "tools/host/commands.h"
#include "zolm/ukep.h"

namespace zolm::host {
namespace {

// Prints a library error text as "error: TEXT", releases it, and says whether there was one.
bool Failed(char *text) {
    if (text == nullptr) return false;
    std::cerr << "error: " << text << "\n";
    ukep_ReleaseMemory(text, static_cast<int32_t>(std::strlen(text) + 1));
    return true;
}

std::string FromBase64(const std::string &text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        size_t value = kAlphabet.find(c);
        if (value == std::string::npos) break;
        bits = bits << 6 | static_cast<uint32_t>(value);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// 16 hexadecimal digits of a Windows file time as a UTC date and time.
std::string FileTimeText(const std::string &hex) {
    unsigned long long ticks = std::strtoull(hex.c_str(), nullptr, 16);
    time_t seconds = static_cast<time_t>(ticks / 10000000ull) - 11644473600LL;
    struct tm parts {};
    char text[32] = "?";
    if (gmtime_r(&seconds, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// ukep_Init, then the list text; false after printing the library's error.
bool Enumerate(std::string *list) {
    if (Failed(ukep_Init(nullptr))) return false;
    char *block = nullptr;
    int32_t length = 0;
    if (Failed(ukep_EnumerateCertificates(&block, &length))) return false;
    list->assign(block, static_cast<size_t>(length));
    ukep_ReleaseMemory(block, length);
    return true;
}

int List(const CommandLine &line) {
    std::string list;
    bool ok = Enumerate(&list);
    Failed(ukep_Done());
    if (!ok) return kExitErrorText;
    if (line.Has("raw")) {
        std::cout << list << "\n";
        return kExitOk;
    }
    std::stringstream lines(list);
    size_t count = 0;
    for (std::string text; std::getline(lines, text, ',');) {
        size_t colon = text.find(':');
        std::vector<std::string> fields;
        std::stringstream rest(text.substr(colon == std::string::npos ? text.size() : colon + 1));
        for (std::string field; std::getline(rest, field, '|');) fields.push_back(field);
        fields.resize(5);
        std::cout << "id:        " << text.substr(0, colon) << "\n"
                  << "name:      " << FromBase64(fields[0]) << "\n"
                  << "valid:     " << FileTimeText(fields[1].substr(0, 16)) << " to "
                  << FileTimeText(fields[1].size() >= 32 ? fields[1].substr(16, 16) : "") << "\n"
                  << "subject:   " << FromBase64(fields[2]) << "\n"
                  << "short:     " << FromBase64(fields[3]) << "\n"
                  << "issuer:    " << FromBase64(fields[4]) << "\n\n";
        ++count;
    }
    std::cout << count << (count == 1 ? " certificate\n" : " certificates\n");
    return kExitOk;
}

int Sign(const CommandLine &line) {
    std::string id = line.Required("id");
    std::string in = line.Required("in");
    std::string out = line.Required("out");
    std::ifstream input(in, std::ios::binary);
    if (!input) throw UsageError("cannot read " + in);
    std::string data((std::istreambuf_iterator<char>(input)), {});
    std::string list;
    if (!Enumerate(&list)) {
        Failed(ukep_Done());
        return kExitErrorText;
    }
    void *signature = nullptr;
    uint32_t length = 0;
    bool failed =
        Failed(ukep_SignData(id.c_str(), data.data(), static_cast<uint32_t>(data.size()), &signature, &length));
    Failed(ukep_Done());
    if (failed) return kExitErrorText;
    if (signature == nullptr) {
        std::cerr << "error: no listed certificate has the id " << id << "\n";
        return kExitErrorText;
    }
    std::ofstream output(out, std::ios::binary);
    output.write(static_cast<const char *>(signature), length);
    ukep_ReleaseMemory(signature, static_cast<int32_t>(length));
    if (!output.flush()) {
        std::cerr << "error: cannot write " << out << "\n";
        return kExitErrorText;
    }
    std::cout << "signature: " << length << " bytes written to " << out << "\n";
    return kExitOk;
}

const CommandRegistration kUkepCommands(
    {
        {"ukep-list", "[--raw]",
         "Lists the certificates of the CSP's containers and \"My\" (zolm_ukep.so); --raw prints the list text.",
         &List},
        {"ukep-sign", "--id ID --in FILE --out FILE",
         "Signs the file with the listed certificate (detached CMS, DER) through zolm_ukep.so.", &Sign},
    },
    {
        {"id", "ID", "ukep-sign: the certificate's id as ukep-list shows it"},
        {"raw", nullptr, "ukep-list: the list text exactly as the library returns it"},
    });

}  // namespace
}  // namespace zolm::host
