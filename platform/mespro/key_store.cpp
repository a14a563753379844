// The key store of a directory: "mk.db3" (store identity), "masks.db3", "kek.opq" (random store
// secrets) and "rand.opq" (the random seed). Created once by PSE_Generation, copied by PSE_Copy.
#include <openssl/rand.h>

#include <array>
#include <cstdio>

#include "platform/mespro/session.h"

namespace mespro {
namespace {
constexpr std::array<const char *, 4> kStoreFiles = {"mk.db3", "masks.db3", "kek.opq", "rand.opq"};

std::string RandomBytes(size_t n) {
    std::string bytes(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), static_cast<int>(n)) != 1) {
        throw Failure{MESPRO_E_CRYPTO_INIT};
    }
    return bytes;
}

bool AnyStoreFile(const std::string &directory) {
    for (const char *name : kStoreFiles) {
        if (FileExists(directory + name)) return true;
    }
    return false;
}
}  // namespace
}  // namespace mespro

using namespace mespro;

extern "C" {

int32_t PSE_Generation(const char *directory, int32_t, int32_t, int32_t seedFromKeyboard) {
    return Run([&] {
        RequireSession();
        std::string dir = RequireText(directory);
        if (AnyStoreFile(dir)) throw Failure{MESPRO_E_STORE_EXISTS};
        // The seed file comes first so that SeedRandom refreshes it from the mixed generator.
        if (!WriteWholeFile(dir + "rand.opq", RandomBytes(32).data(), 32)) throw Failure{MESPRO_E_STORE_CREATE};
        if (seedFromKeyboard != 0) SeedRandom(dir);
        std::string identity = "MESPRO-PSE 1\n" + RandomBytes(16);
        std::string masks = RandomBytes(32);
        std::string kek = RandomBytes(32);
        bool ok = WriteWholeFile(dir + "mk.db3", identity.data(), identity.size()) &&
                  WriteWholeFile(dir + "masks.db3", masks.data(), masks.size()) &&
                  WriteWholeFile(dir + "kek.opq", kek.data(), kek.size());
        OPENSSL_cleanse(masks.data(), masks.size());
        OPENSSL_cleanse(kek.data(), kek.size());
        if (!ok) throw Failure{MESPRO_E_STORE_CREATE};
    });
}

int32_t PSE_Copy(const char *sourceDirectory, int32_t, const char *targetDirectory, int32_t replace) {
    return Run([&] {
        RequireSession();
        std::string source = RequireText(sourceDirectory);
        std::string target = RequireText(targetDirectory);
        std::array<std::string, kStoreFiles.size()> contents;
        for (size_t i = 0; i < kStoreFiles.size(); ++i) {
            if (!ReadWholeFile(source + kStoreFiles[i], contents[i])) throw Failure{MESPRO_E_STORE_COPY};
        }
        if (replace == 0 && AnyStoreFile(target)) throw Failure{MESPRO_E_STORE_EXISTS};
        bool ok = true;
        for (size_t i = 0; i < kStoreFiles.size() && ok; ++i) {
            ok = WriteWholeFile(target + kStoreFiles[i], contents[i].data(), contents[i].size());
        }
        for (std::string &c : contents) OPENSSL_cleanse(c.data(), c.size());
        if (!ok) throw Failure{MESPRO_E_FILE_COPY};
    });
}

}  // extern "C"
