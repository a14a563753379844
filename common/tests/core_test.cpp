// The result convention, formatted_exception and CMemoryBuffer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "common/formatted_exception.h"
#include "common/memory_buffer.h"
#include "common/result.h"

namespace {

std::string ResultText(char *text) {
    if (text == nullptr) return "<success>";
    std::string copy(text);
    zolm::ReleaseBlock(text, copy.size() + 1);
    return copy;
}

bool AllZero(const uint8_t *data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (data[i] != 0) return false;
    return true;
}

}  // namespace

TEST(FormattedException, LongTextIsComplete) {
    for (size_t n : {10u, 254u, 255u, 256u, 511u, 600u, 5000u}) {
        std::string arg(n, 'x');
        formatted_exception e("<%s>", arg.c_str());
        EXPECT_EQ(std::string(e.what()), "<" + arg + ">") << n;
    }
}

TEST(FormattedException, CopyKeepsTheText) {
    formatted_exception original("error %d in %s", 5, "key.der");
    formatted_exception copy = original;
    EXPECT_STREQ(copy.what(), "error 5 in key.der");
    EXPECT_NE(copy.what(), original.what());
}

TEST(FormatText, UnprintableFormatIsAnErrorNotAHang) {
    // In the C locale a non-ASCII wide character cannot be converted: the printer fails for every size.
    try {
        zolm::FormatText("%ls", L"\u0416");
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "cannot format text: %ls");
    }
}

TEST(ResultOf, ConvertsEveryKindOfException) {
    struct Case {
        const char *name;
        void (*work)();
        std::string text;
    } cases[] = {
        {"success", [] {}, "<success>"},
        {"formatted", [] { throw formatted_exception("failed %d", 7); }, "failed 7"},
        {"standard", [] { throw std::out_of_range("index"); }, "index"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
        {"int", [] { throw 42; }, "unexpected exception"},
        {"text", [] { throw "plain text"; }, "unexpected exception"},
    };
    for (const auto &c : cases) EXPECT_EQ(ResultText(zolm::ResultOf(c.work)), c.text) << c.name;
}

TEST(NoThrow, GivesTheFallbackForAnyException) {
    EXPECT_EQ(zolm::NoThrow([] { return 5; }, -1), 5);
    EXPECT_EQ(zolm::NoThrow([]() -> int { throw formatted_exception("x"); }, -1), -1);
    EXPECT_EQ(zolm::NoThrow([]() -> int { throw 1; }, -1), -1);
}

TEST(CMemoryBuffer, GrowthCapacities) {
    struct Case {
        size_t length, grow, capacity;
    } cases[] = {{0, 0, 0},       {0, 1, 1024},       {1000, 100, 2048}, {1000, 24, 1024}, {0, 1024, 1024},
                 {1024, 1, 2048}, {10, 5000, 5120},   {0, 1025, 2048},   {3000, 0, 3072}};
    for (auto c : cases) {
        auto b = CMemoryBuffer::Create();
        std::string data(c.length, 'a');
        b->Append(data.data(), data.size());
        b->Reserve(c.grow);
        EXPECT_EQ(b->Capacity(), c.capacity) << c.length << "+" << c.grow;
        EXPECT_EQ(b->Length(), c.length);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), data);
    }
}

TEST(CMemoryBuffer, GrowthMovesDataToOffsetZero) {
    std::string data(1000, 'd');
    auto b = CMemoryBuffer::Create(data.data(), data.size());
    b->Consume(10);
    EXPECT_EQ(b->Offset(), 10u);
    b->Reserve(14);  // 1024 - 10 - 990 = 24 free: no growth
    EXPECT_EQ(b->Capacity(), 1024u);
    EXPECT_EQ(b->Offset(), 10u);
    b->Reserve(25);  // new storage of (990 + 25 + 1023) rounded down to 1024
    EXPECT_EQ(b->Capacity(), 1024u);
    EXPECT_EQ(b->Offset(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), data.substr(10));
}

TEST(CMemoryBuffer, OldStorageIsZeroedOnGrowthAndStorageOnDestruction) {
    std::string secret(1000, 'k');
    auto b = CMemoryBuffer::Create(secret.data(), secret.size());
    auto old = b->Storage();
    size_t oldCapacity = b->Capacity();
    ASSERT_EQ(old[0], 'k');
    b->Reserve(100);
    EXPECT_NE(b->Storage(), old);
    EXPECT_TRUE(AllZero(old.get(), oldCapacity));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), secret);

    auto current = b->Storage();
    size_t capacity = b->Capacity();
    b.reset();
    EXPECT_TRUE(AllZero(current.get(), capacity));
}

TEST(CMemoryBuffer, AppendingItsOwnBytesSurvivesGrowth) {
    std::string data(1000, 'a');
    data[0] = 'b';
    auto b = CMemoryBuffer::Create(data.data(), data.size());
    b->Append(b->Data(), b->Length());
    EXPECT_EQ(b->Capacity(), 2048u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), data + data);
    b->Append(b->Data(), 10);  // room enough: no growth, no copy needed
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), data + data + data.substr(0, 10));
}

TEST(CMemoryBuffer, TerminatedViewAddsAZeroAfterTheData) {
    auto empty = CMemoryBuffer::Create();
    EXPECT_STREQ(empty->TerminatedView(), "");
    EXPECT_EQ(empty->Capacity(), 1024u);
    std::string full(1024, 'f');
    auto b = CMemoryBuffer::Create(full.data(), full.size());
    EXPECT_EQ(b->Capacity(), 1024u);
    EXPECT_EQ(std::string(b->TerminatedView()), full);
    EXPECT_EQ(b->Capacity(), 2048u);
    EXPECT_EQ(b->Length(), 1024u);
}

class LoadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("zolm-loadfile-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string &name, const std::string &content) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string ErrorOf(const std::string &path) {
        try {
            CMemoryBuffer::LoadFile(path);
            return "<loaded>";
        } catch (const formatted_exception &e) {
            return e.what();
        }
    }
    std::filesystem::path dir_;
};

TEST_F(LoadFileTest, LoadsExactBytes) {
    std::string content("line\r\n\0binary\x1a", 15);
    for (const std::string &data : {content, std::string(), std::string(3000, 'z')}) {
        auto b = CMemoryBuffer::LoadFile(Write("f.bin", data));
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(b->Data()), b->Length()), data);
        EXPECT_EQ(b->Offset(), 0u);
    }
}

TEST_F(LoadFileTest, ErrorTexts) {
    std::string missing = (dir_ / "mespro.sig").string();
    EXPECT_EQ(ErrorOf(missing), "failed to open file " + missing);
    EXPECT_EQ(ErrorOf(dir_.string()), "failed to open file " + dir_.string());
}

TEST_F(LoadFileTest, FileDeliveringFewerBytesThanItsSizeFails) {
    // sysfs attributes report a size of a page and deliver a few bytes: the size query and the read
    // disagree exactly as with a file that shrinks in between.
    const char *path = "/sys/devices/system/cpu/online";
    std::FILE *probe = std::fopen(path, "rb");
    if (probe == nullptr) GTEST_SKIP() << path << " is not available";
    std::fseek(probe, 0, SEEK_END);
    long size = std::ftell(probe);
    std::fclose(probe);
    if (size <= 64) GTEST_SKIP() << path << " reports its real size";
    EXPECT_EQ(ErrorOf(path), std::string("failed to read file ") + path);
}
