// Document pools: refusals, first fit over the chain, block doubling, cleared and
// aligned memory, and the index agreeing with a walk of the chain.
#include <cstdlib>
#include <cstring>
#include <random>

#include "support/vx_test.h"

namespace {

int BlockCount(KEL_XML_POOL *pool) {
    int n = 0;
    for (KEL_XML_POOL_BLOCK *b = pool; b; b = b->next) ++n;
    return n;
}

KEL_XML_POOL_BLOCK *BlockHolding(KEL_XML_POOL *pool, const void *p) {
    for (KEL_XML_POOL_BLOCK *b = pool; b; b = b->next) {
        auto *data = reinterpret_cast<uint8_t *>(b) + sizeof(KEL_XML_POOL_BLOCK);
        if (p >= data && p < data + b->capacity) return b;
    }
    return nullptr;
}

TEST(Pool, RefusesNonPositiveSizesAndHandsOutClearedAlignedMemory) {
    EXPECT_EQ(XmlPoolCreate(0), nullptr);
    EXPECT_EQ(XmlPoolCreate(-5), nullptr);
    EXPECT_EQ(XmlPoolAlloc(nullptr, 8), nullptr);
    // Heap memory given back dirty, so that the blocks below are not fresh, zeroed pages.
    for (size_t size : {8192u + 256u, 16384u + 256u, 65536u}) {
        void *dirty = std::malloc(size);
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xA5, size);
        std::free(dirty);
    }
    KEL_XML_POOL *pool = XmlPoolCreate(8192);
    EXPECT_EQ(XmlPoolAlloc(pool, 0), nullptr);
    EXPECT_EQ(XmlPoolAlloc(pool, -1), nullptr);
    EXPECT_EQ(pool->remaining, 8192);
    for (int size : {1, 3, 5, 17, 88, 56, 208, 7, 9000}) {
        auto *p = static_cast<uint8_t *>(XmlPoolAlloc(pool, size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << size;
        for (int i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << size;
        std::memset(p, 0xAB, size);
    }
    XmlPoolDestroy(pool);
    XmlPoolDestroy(nullptr);
}

TEST(Pool, FirstFitReusesEarlierBlocks) {
    KEL_XML_POOL *pool = XmlPoolCreate(8192);
    void *a = XmlPoolAlloc(pool, 164);
    void *b = XmlPoolAlloc(pool, 8100);  // does not fit the rest of block 1
    void *c = XmlPoolAlloc(pool, 20);    // goes back to block 1
    EXPECT_EQ(BlockCount(pool), 2);
    EXPECT_TRUE(BlockHolding(pool, a) == pool && BlockHolding(pool, c) == pool);
    EXPECT_EQ(BlockHolding(pool, b), pool->next);
    EXPECT_EQ(pool->cursor + pool->remaining,
              reinterpret_cast<uint8_t *>(pool) + sizeof(KEL_XML_POOL_BLOCK) + 8192);
    XmlPoolDestroy(pool);
}

TEST(Pool, LargeRequestsDoubleTheLastCapacity) {
    for (auto [request, capacity] : {std::pair{10000, 16384}, {20000, 32768}, {8192, 8192}}) {
        KEL_XML_POOL *pool = XmlPoolCreate(8192);
        XmlPoolAlloc(pool, 8);
        ASSERT_NE(XmlPoolAlloc(pool, request), nullptr);
        EXPECT_EQ(pool->next->capacity, capacity) << request;
        while (BlockCount(pool) < 3) XmlPoolAlloc(pool, 1000);  // later blocks start from it
        EXPECT_EQ(pool->next->next->capacity, capacity) << request;
        XmlPoolDestroy(pool);
    }
}

// The indexed first fit must pick exactly the block a walk of the chain picks.
TEST(Pool, IndexAgreesWithChainWalk) {
    std::mt19937 rng(7);
    KEL_XML_POOL *pool = XmlPoolCreate(256);
    for (int i = 0; i < 20000; ++i) {
        int32_t size = 1 + static_cast<int32_t>(rng() % (i % 97 == 0 ? 700 : 90));
        KEL_XML_POOL_BLOCK *expected = pool, *last = pool;
        while (expected && expected->remaining < ((size + 7) & ~7)) expected = expected->next;
        while (last->next) last = last->next;
        uint8_t *cursor = expected ? expected->cursor : nullptr;
        void *p = XmlPoolAlloc(pool, size);
        ASSERT_NE(p, nullptr);
        if (expected) {
            ASSERT_EQ(p, cursor) << "request " << i;
        } else {
            ASSERT_EQ(BlockHolding(pool, p), last->next) << "request " << i;
        }
    }
    XmlPoolDestroy(pool);
}

}  // namespace
