// Release zeroing, the out-of-memory path of the result convention, and the exports every plug-in
// shares, loaded from a plug-in built the way the real ones are.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/formatted_exception.h"
#include "common/result.h"
#include "zolm/provider.h"

// This binary links with --wrap=free and --wrap=malloc: the wrappers let a test see a block's bytes at
// the moment it is freed, and make the heap refuse blocks.
namespace {
void *g_watched = nullptr;
size_t g_watchedSize = 0;
std::vector<unsigned char> g_seenAtFree;
bool g_failMalloc = false;
}  // namespace

extern "C" {
void __real_free(void *block);
void *__real_malloc(size_t size);

void __wrap_free(void *block) {
    if (block != nullptr && block == g_watched) {
        auto *bytes = static_cast<unsigned char *>(block);
        g_seenAtFree.assign(bytes, bytes + g_watchedSize);
        g_watched = nullptr;
    }
    __real_free(block);
}

void *__wrap_malloc(size_t size) { return g_failMalloc ? nullptr : __real_malloc(size); }
}

TEST(ReleaseBlock, ZeroesExactlyTheGivenLengthThenFrees) {
    const size_t size = 16;
    for (uint32_t length : {0u, 1u, 5u, 16u}) {
        auto *block = static_cast<unsigned char *>(std::malloc(size));
        std::memset(block, 0xAB, size);
        g_watched = block;
        g_watchedSize = size;
        g_seenAtFree.clear();
        zolm::ReleaseBlock(block, length);
        ASSERT_EQ(g_seenAtFree.size(), size) << "not freed, length " << length;
        for (size_t i = 0; i < size; ++i)
            EXPECT_EQ(g_seenAtFree[i], i < length ? 0 : 0xAB) << "byte " << i << ", length " << length;
    }
    zolm::ReleaseBlock(nullptr, 10);  // nothing to release, nothing written
}

TEST(ResultOf, ExhaustedHeapStillReportsAFailure) {
    g_failMalloc = true;
    char *text = zolm::ResultOf([] { throw formatted_exception("not %s", "this"); });
    bool newBlockThrew = false;
    try {
        zolm::NewBlock("abc", 3);
    } catch (const std::bad_alloc &) {
        newBlockThrew = true;
    }
    g_failMalloc = false;
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "bad allocation");
    EXPECT_TRUE(newBlockThrew);
    zolm::ReleaseBlock(text, std::strlen(text) + 1);  // the constant text is left alone
    EXPECT_STREQ(text, "bad allocation");
}

class ProviderExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dlopen(EXPORT_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        init_ = reinterpret_cast<cp_Init_fn *>(dlsym(library_, "cp_Init"));
        done_ = reinterpret_cast<cp_Done_fn *>(dlsym(library_, "cp_Done"));
        store_ = reinterpret_cast<cp_StoreCertificate_fn *>(dlsym(library_, "cp_StoreCertificate"));
        release_ = reinterpret_cast<cp_ReleaseMemory_fn *>(dlsym(library_, "cp_ReleaseMemory"));
        ASSERT_TRUE(init_ && done_ && store_ && release_);
    }
    void TearDown() override {
        if (library_ != nullptr) dlclose(library_);
    }
    std::string Text(char *result) {
        if (result == nullptr) return "<success>";
        std::string text(result);
        release_(result, static_cast<uint32_t>(text.size() + 1));
        return text;
    }
    void *library_ = nullptr;
    cp_Init_fn *init_ = nullptr;
    cp_Done_fn *done_ = nullptr;
    cp_StoreCertificate_fn *store_ = nullptr;
    cp_ReleaseMemory_fn *release_ = nullptr;
};

TEST_F(ProviderExportsTest, StoreCertificateStoresOneAndSucceeds) {
    int32_t stored = 0;
    EXPECT_EQ(Text(store_(0xFFFFFFFFu, 7, 0xDEADBEEFu, &stored)), "<success>");
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(Text(store_(0, 0, 0, nullptr)), "<success>");
}

TEST_F(ProviderExportsTest, InitStoresTheHostTableBeforeTheVendorCheck) {
    HostTable table{};
    struct Case {
        const char *name;
        const HostTable *host;
        const char *directory;
        std::string result;
    } cases[] = {
        {"null table", nullptr, "/opt/", "cp_Init was called without a host table"},
        {"vendor failure", &table, "fail", "vendor check failed in fail"},
        {"success", &table, "/opt/", "<success>"},
        {"null directory", &table, nullptr, "<success>"},
        {"null table after a good one", nullptr, nullptr, "cp_Init was called without a host table"},
    };
    for (const auto &c : cases) EXPECT_EQ(Text(init_(c.host, c.directory)), c.result) << c.name;
    done_();
    done_();
    release_(nullptr, 0);
}
