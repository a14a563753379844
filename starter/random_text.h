// The process's pseudo-random generator (seeded from the clock at start-up) and RandomText.
#pragma once

#include <cstdint>
#include <string>

namespace zolm::starter {

// Seeds the process-wide generator; the start-up sequence seeds it from the clock.
void SeedRandom(uint64_t seed);

// count characters, each drawn uniformly from "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789".
std::string RandomText(size_t count);

}  // namespace zolm::starter
