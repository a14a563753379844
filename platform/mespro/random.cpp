// Seeding of the random generator: the system's randomness, the seed file "rand.opq" of the key
// directory and the user's key presses (character and timing) are hashed together and mixed into
// OpenSSL's generator; a fresh seed file is written afterwards.
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/random.h>

#include <cstring>
#include <ctime>

#include "platform/mespro/session.h"

namespace mespro {
namespace {
constexpr uint32_t kKeyPresses = 8;
constexpr size_t kSeedLength = 32;

void AddTime(SHA256_CTX &hash) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    SHA256_Update(&hash, &now, sizeof now);
}
}  // namespace

void SeedRandom(const std::string &directory) {
    SHA256_CTX hash;
    SHA256_Init(&hash);

    unsigned char system[kSeedLength];
    if (getrandom(system, sizeof system, 0) != static_cast<ssize_t>(sizeof system)) throw Failure{MESPRO_E_CRYPTO_INIT};
    SHA256_Update(&hash, system, sizeof system);
    OPENSSL_cleanse(system, sizeof system);

    std::string seedFile = directory.empty() ? std::string() : directory + "rand.opq";
    std::string previous;
    if (!seedFile.empty() && ReadWholeFile(seedFile, previous)) SHA256_Update(&hash, previous.data(), previous.size());
    OPENSSL_cleanse(previous.data(), previous.size());

    if (MesproKeyPressFn keyPress = Lib().keyPress) {
        for (uint32_t remaining = kKeyPresses; remaining > 0; --remaining) {
            unsigned char pick = 0;
            if (RAND_bytes(&pick, 1) != 1) throw Failure{MESPRO_E_CRYPTO_INIT};
            int32_t wanted = 33 + pick % 94;  // printable, not the blank
            int32_t pressed = keyPress(wanted, remaining, 0, 0);
            if (pressed == -1) break;  // no more presses: the system's randomness suffices
            SHA256_Update(&hash, &pressed, sizeof pressed);
            AddTime(hash);
        }
    }
    AddTime(hash);

    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &hash);
    RAND_add(digest, sizeof digest, 0.0);
    OPENSSL_cleanse(digest, sizeof digest);

    if (!seedFile.empty() && FileExists(seedFile)) {
        unsigned char next[kSeedLength];
        if (RAND_bytes(next, sizeof next) != 1) throw Failure{MESPRO_E_CRYPTO_INIT};
        bool written = WriteWholeFile(seedFile, next, sizeof next);
        OPENSSL_cleanse(next, sizeof next);
        if (!written) throw Failure{MESPRO_E_RAND_WRITE};
    }
}

}  // namespace mespro
