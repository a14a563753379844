#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/formatted_exception.h"
#include "common/memory_buffer.h"
#include "common/result.h"

TEST(FormattedException, LongTextIsComplete) {
    for (size_t n : {10u, 254u, 255u, 256u, 600u, 5000u}) {
        std::string arg(n, 'x');
        formatted_exception e("<%s>", arg.c_str());
        EXPECT_EQ(std::string(e.what()), "<" + arg + ">") << n;
    }
}

TEST(ResultOf, ConvertsEveryKindOfException) {
    EXPECT_EQ(zolm::ResultOf([] {}), nullptr);
    char *text = zolm::ResultOf([] { throw formatted_exception("failed %d", 7); });
    EXPECT_STREQ(text, "failed 7");
    zolm::ReleaseBlock(text, std::strlen(text) + 1);
    text = zolm::ResultOf([] { throw 42; });
    EXPECT_STREQ(text, "unexpected exception");
    zolm::ReleaseBlock(text, std::strlen(text) + 1);
}

TEST(CMemoryBuffer, GrowthCapacities) {
    struct Case { size_t length, grow, capacity; } cases[] = {{0, 1, 1024}, {1000, 100, 2048}, {0, 1024, 1024},
                                                             {1024, 1, 2048}, {10, 5000, 5120}};
    for (auto c : cases) {
        auto b = CMemoryBuffer::Create();
        std::string data(c.length, 'a');
        b->Append(data.data(), data.size());
        b->Reserve(c.grow);
        EXPECT_EQ(b->Capacity(), c.capacity) << c.length << "+" << c.grow;
    }
}
