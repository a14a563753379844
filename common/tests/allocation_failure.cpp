// Allocation failure on demand for the tests of this binary: operator new of one chosen size throws
// once. Kept in a file of its own so the compiler sees no new/delete pair to second-guess.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace zolm::testing {
size_t g_failAllocationOfSize = 0;
}

void *operator new(size_t size) {
    if (zolm::testing::g_failAllocationOfSize != 0 && size == zolm::testing::g_failAllocationOfSize) {
        zolm::testing::g_failAllocationOfSize = 0;
        throw std::bad_alloc();
    }
    if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void *operator new[](size_t size) { return operator new(size); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
