// Random texts from the process-wide generator.
#include "starter/random_text.h"

#include <mutex>
#include <random>

namespace zolm::starter {
namespace {

std::mutex g_lock;
std::mt19937_64 &Generator() {
    static std::mt19937_64 generator(std::random_device{}());
    return generator;
}

}  // namespace

void SeedRandom(uint64_t seed) {
    std::lock_guard<std::mutex> hold(g_lock);
    Generator().seed(seed);
}

std::string RandomText(size_t count) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<int> pick(0, 35);
    std::string text;
    text.reserve(count);
    std::lock_guard<std::mutex> hold(g_lock);
    for (size_t i = 0; i < count; ++i) text += kAlphabet[pick(Generator())];
    return text;
}

}  // namespace zolm::starter
