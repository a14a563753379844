// Fuzz target for patch answers: any bytes are parsed or refused with an error, and every entry is
// taken through ApplyEntry against a small installation with a patch tool that cannot start, so
// the names, modes, digests, links and data of hostile entries are all checked, and nothing outside
// the working folder may change (the fuzzer aborts when it does).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "starter/file_sha1.h"
#include "starter/install_version.h"
#include "starter/starter_error.h"

namespace fs = std::filesystem;
using namespace zolm::starter;

namespace {

struct Place {
    Place() {
        char name[] = "/tmp/patch-fuzz-XXXXXX";
        if (::mkdtemp(name) == nullptr) std::abort();
        root = name;
        fs::create_directories(root + "/current/sub");
        fs::create_directories(root + "/outside");
        std::ofstream(root + "/current/a.txt") << "alpha";
        std::ofstream(root + "/current/sub/b.bin") << "beta";
        std::ofstream(root + "/outside/victim") << "outside";
        fs::create_symlink(root + "/outside", root + "/current/link");
        fs::create_symlink(root + "/outside/victim", root + "/current/sub/victim");
        outsideDigest = FileSha1(root + "/outside/victim");
    }
    ~Place() { fs::remove_all(root); }
    void FreshWorkingFolder() const {
        fs::remove_all(root + "/work");
        fs::copy(root + "/current", root + "/work", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    void CheckOutside() const {
        size_t count = 0;
        for (const auto &entry : fs::directory_iterator(root + "/outside")) count += entry.exists();
        if (count != 1 || FileSha1(root + "/outside/victim") != outsideDigest) std::abort();
    }
    std::string root, outsideDigest;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Place place;
    std::optional<PatchDocument> answer;
    try {
        answer = PatchDocument::Parse(data, size);
    } catch (const StarterError &) {
        return 0;  // refused with a message
    }
    answer->SelectText("/response/patch/@version");
    place.FreshWorkingFolder();
    for (const PatchEntry &entry : answer->Entries()) {
        try {
            ApplyEntry(place.root + "/current", place.root + "/work", entry, place.root + "/no-such-tool");
        } catch (const StarterError &error) {
            if (std::string(error.what()).empty()) std::abort();
        }
    }
    place.CheckOutside();
    return 0;
}
