// zolm-patchmaker: writes the "patch" element of a patch answer from two version folders.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bsdiff40.h"
#include "starter/file_sha1.h"
#include "starter/install_version.h"

namespace fs = std::filesystem;
using zolm::patchmaker::MakePatch;

namespace {

constexpr char kHelp[] =
    "Usage:\n"
    "  zolm-patchmaker [--version NAME] [--out FILE] OLD_FOLDER NEW_FOLDER\n"
    "  zolm-patchmaker --full [--version NAME] [--out FILE] NEW_FOLDER\n"
    "  zolm-patchmaker --help\n"
    "\n"
    "Writes the \"patch\" element of an update answer that turns OLD_FOLDER into NEW_FOLDER: \"remove\"\n"
    "entries for files only in OLD_FOLDER, \"modify\" entries for changed files and \"add\" entries for\n"
    "new ones, in that order, each with the upper-case SHA-1 digests and a base64 BSDIFF40 patch.\n"
    "With --full every file of NEW_FOLDER is an \"add\" entry (a patch against an empty installation).\n"
    "NAME (default: NEW_FOLDER's name) becomes the element's version attribute. The output is plain\n"
    "ASCII without an XML declaration, usable as a local update description (\"<version>.xml\" beside\n"
    "the installed version's folder) or inside the server's answer.\n"
    "Symbolic links must be the same in both folders (a patch cannot carry them); file names must be\n"
    "names the starter accepts (letters, digits, \"-\", \"_\", \".\" and \"/\").\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

struct Item {
    bool link = false;
    std::string target;  // of a link
};

// Regular files and links below the folder by relative name; other kinds are refused.
std::map<std::string, Item> List(const std::string &folder) {
    std::map<std::string, Item> items;
    if (folder.empty()) return items;
    if (!fs::is_directory(folder)) throw std::runtime_error(folder + " is not a folder");
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        std::string name = it->path().lexically_relative(folder).generic_string();
        fs::file_status status = it->symlink_status();
        if (fs::is_directory(status)) continue;
        if (fs::is_symlink(status)) {
            items[name] = {true, fs::read_symlink(it->path()).string()};
        } else if (fs::is_regular_file(status)) {
            items[name] = {};
        } else {
            throw std::runtime_error(it->path().string() + " is neither a file, a folder nor a link");
        }
    }
    return items;
}

std::string Base64(const std::vector<uint8_t> &data) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t group = uint32_t{data[i]} << 16;
        if (i + 1 < data.size()) group |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < data.size()) group |= data[i + 2];
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < data.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
        if ((i / 3 + 1) % 19 == 0 && i + 3 < data.size()) out += '\n';  // lines of 76 characters
    }
    return out;
}

std::string Escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string Make(const std::string &oldFolder, const std::string &newFolder, const std::string &version) {
    auto before = List(oldFolder);
    auto after = List(newFolder);
    for (const auto *items : {&before, &after})
        for (const auto &[name, item] : *items) {
            try {
                zolm::starter::CheckRelativePath(name);
            } catch (const std::exception &e) {
                throw std::runtime_error("the starter refuses the file name \"" + name + "\": " + e.what());
            }
        }
    std::string removes, modifies, adds;
    for (const auto &[name, item] : before) {
        auto other = after.find(name);
        bool sameLink = item.link && other != after.end() && other->second.link && other->second.target == item.target;
        if (item.link && !sameLink) throw std::runtime_error("link " + name + " differs: a patch cannot carry links");
        if (!item.link && other != after.end() && other->second.link)
            throw std::runtime_error("link " + name + " differs: a patch cannot carry links");
        if (other == after.end())
            removes +=
                "  <remove name=\"" + name + "\" hash=\"" + zolm::starter::FileSha1(oldFolder + "/" + name) + "\"/>\n";
    }
    for (const auto &[name, item] : after) {
        if (item.link) {
            if (!before.count(name)) throw std::runtime_error("link " + name + " is new: a patch cannot carry links");
            continue;
        }
        std::string newFile = newFolder + "/" + name;
        std::string hashAfter = zolm::starter::FileSha1(newFile);
        if (before.count(name)) {
            std::string oldFile = oldFolder + "/" + name;
            std::string hashBefore = zolm::starter::FileSha1(oldFile);
            if (hashBefore == hashAfter) continue;
            modifies += "  <modify name=\"" + name + "\" hash-before=\"" + hashBefore + "\" hash-after=\"" + hashAfter +
                        "\">\n" + Base64(MakePatch(oldFile, newFile)) + "\n  </modify>\n";
        } else {
            adds += "  <add name=\"" + name + "\" hash=\"" + hashAfter + "\">\n" +
                    Base64(MakePatch("/dev/null", newFile)) + "\n  </add>\n";
        }
    }
    return "<patch version=\"" + Escaped(version) + "\">\n" + removes + modifies + adds + "</patch>\n";
}

int Usage(const std::string &why) {
    std::fprintf(stderr, "zolm-patchmaker: %s\nTry 'zolm-patchmaker --help'.\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> folders;
    std::string version, out;
    bool full = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--full") {
            full = true;
        } else if (a == "--version" || a == "--out") {
            if (i + 1 >= argc) return Usage("option " + a + " needs a value");
            (a == "--version" ? version : out) = argv[++i];
        } else if (a.rfind("--", 0) == 0) {
            return Usage("unknown option " + a);
        } else {
            folders.push_back(a);
        }
    }
    if (folders.size() != (full ? 1u : 2u)) return Usage(full ? "--full takes one folder" : "two folders are needed");
    std::string oldFolder = full ? "" : folders[0];
    std::string newFolder = folders.back();
    while (newFolder.size() > 1 && newFolder.back() == '/') newFolder.pop_back();
    if (version.empty()) version = fs::path(newFolder).filename().string();
    try {
        std::string text = Make(oldFolder, newFolder, version);
        if (out.empty()) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) throw std::runtime_error("cannot write " + out);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zolm-patchmaker: %s\n", e.what());
        return 1;
    }
}
