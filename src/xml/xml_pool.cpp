// xml_pool.cpp - document pools: a chain of blocks served first fit, every
// request handed out zero-filled.
//
// First fit means: the first block of the chain with room serves a request. A
// plain walk over the chain makes a large document (thousands of blocks)
// quadratic, so every pool keeps an index beside its chain: a max-tree over the
// free room of all blocks but the last. A request larger than the tree's
// maximum can only go to the last block (or a new one); any other request
// descends the tree to the leftmost block with room - the same block the walk
// would pick, in logarithmic time. The index lives in a trailer behind the first
// block's data area and in one heap array that grows by doubling.
//
// A block's data area is not cleared when the block is made: no byte is handed
// out twice, so clearing each request as it is handed out gives the same zeroed
// memory and spares the parser, which fills every byte it takes, a second pass.
#include <climits>
#include <cstring>

#include "xml_internal.h"

namespace {

constexpr int32_t kAlign = 8;      // every request is rounded up to this
constexpr size_t kSpareBytes = 4;  // never handed out, behind each data area

struct PoolIndex {
    KEL_XML_POOL_BLOCK *last;     // the chain's last block (not in the tree)
    KEL_XML_POOL_BLOCK **blocks;  // blocks[0 .. count-1] in chain order; null while count is 1
    int32_t *tree;                // max-tree over remaining; leaves at [leaves, 2*leaves)
    uint32_t count;               // blocks in the chain
    uint32_t leaves;              // leaf slots (a power of two), 0 while count is 1
};

size_t TrailerOffset(int32_t capacity) {
    size_t end = sizeof(KEL_XML_POOL_BLOCK) + static_cast<size_t>(capacity) + kSpareBytes;
    return (end + alignof(PoolIndex) - 1) & ~(alignof(PoolIndex) - 1);
}

PoolIndex *IndexOf(KEL_XML_POOL *pool) {
    return reinterpret_cast<PoolIndex *>(reinterpret_cast<uint8_t *>(pool) +
                                         TrailerOffset(pool->capacity));
}

uint8_t *DataOf(KEL_XML_POOL_BLOCK *block) {
    return reinterpret_cast<uint8_t *>(block) + sizeof(KEL_XML_POOL_BLOCK);
}

// One block with `trailer` bytes (cleared) behind the spare bytes; the data area
// is cleared request by request.
KEL_XML_POOL_BLOCK *NewBlock(int32_t capacity, size_t trailer) {
    size_t bytes = trailer
                       ? TrailerOffset(capacity) + trailer
                       : sizeof(KEL_XML_POOL_BLOCK) + static_cast<size_t>(capacity) + kSpareBytes;
    auto *block = static_cast<KEL_XML_POOL_BLOCK *>(XmlMalloc(bytes));
    if (block == nullptr) return nullptr;
    if (trailer)
        std::memset(reinterpret_cast<uint8_t *>(block) + TrailerOffset(capacity), 0, trailer);
    block->cursor = DataOf(block);
    block->remaining = capacity;
    block->capacity = capacity;
    block->next = nullptr;
    return block;
}

uint8_t *TakeFrom(KEL_XML_POOL_BLOCK *block, int32_t size) {
    uint8_t *memory = block->cursor;
    block->cursor += size;
    block->remaining -= size;
    return memory;
}

void SetLeaf(PoolIndex *index, uint32_t slot, int32_t value) {
    uint32_t pos = index->leaves + slot;
    index->tree[pos] = value;
    for (pos >>= 1; pos != 0; pos >>= 1) {
        int32_t left = index->tree[2 * pos], right = index->tree[2 * pos + 1];
        int32_t top = left > right ? left : right;
        if (index->tree[pos] == top) break;
        index->tree[pos] = top;
    }
}

// Largest free room among the blocks before the last; -1 when there are none.
int32_t PrefixMax(const PoolIndex *index) { return index->leaves ? index->tree[1] : -1; }

// Leftmost block before the last with at least `size` bytes free.
uint32_t FirstFit(const PoolIndex *index, int32_t size) {
    uint32_t pos = 1;
    while (pos < index->leaves) pos = index->tree[2 * pos] >= size ? 2 * pos : 2 * pos + 1;
    return pos - index->leaves;
}

// Makes room in the index for one more block; false (nothing changed) on no memory.
// The old arrays are copied rather than rebuilt from the chain: a walk over the chain
// touches every block, each on a page of its own.
bool ReserveSlot(PoolIndex *index, KEL_XML_POOL *pool) {
    if (index->count < index->leaves) return true;
    uint32_t leaves = index->leaves ? index->leaves * 2 : 16;
    size_t bytes = leaves * sizeof(KEL_XML_POOL_BLOCK *) + 2 * leaves * sizeof(int32_t);
    auto *memory = static_cast<uint8_t *>(XmlMalloc(bytes));
    if (memory == nullptr) return false;
    auto **blocks = reinterpret_cast<KEL_XML_POOL_BLOCK **>(memory);
    auto *tree = reinterpret_cast<int32_t *>(memory + leaves * sizeof(KEL_XML_POOL_BLOCK *));
    uint32_t n = index->count;  // the full old array, or the pool's one block
    if (index->leaves == 0) {
        blocks[0] = pool;
    } else {
        std::memcpy(blocks, index->blocks, n * sizeof *blocks);
        std::memcpy(tree + leaves, index->tree + index->leaves, n * sizeof *tree);
    }
    tree[leaves + n - 1] = -1;  // the last block stays out of the tree
    for (uint32_t i = n; i < leaves; ++i) tree[leaves + i] = -1;
    for (uint32_t pos = leaves - 1; pos != 0; --pos)
        tree[pos] = tree[2 * pos] > tree[2 * pos + 1] ? tree[2 * pos] : tree[2 * pos + 1];
    XmlFree(index->blocks);
    index->blocks = blocks;
    index->tree = tree;
    index->leaves = leaves;
    return true;
}

// Serves `size` from a new block behind the last one; null (chain unchanged) on no memory.
void *AppendBlock(KEL_XML_POOL *pool, PoolIndex *index, int32_t size) {
    int64_t capacity = index->last->capacity;
    while (size > capacity) capacity *= 2;
    if (capacity > INT32_MAX) return nullptr;
    if (!ReserveSlot(index, pool)) return nullptr;
    KEL_XML_POOL_BLOCK *block = NewBlock(static_cast<int32_t>(capacity), 0);
    if (block == nullptr) return nullptr;
    KEL_XML_POOL_BLOCK *previous = index->last;
    previous->next = block;
    index->blocks[index->count] = block;
    SetLeaf(index, index->count - 1, previous->remaining);  // the old last joins the tree
    index->count++;
    index->last = block;
    return TakeFrom(block, size);
}

}  // namespace

KEL_XML_POOL *XmlPoolCreate(int32_t blockSize) noexcept {
    if (blockSize < 1) return nullptr;
    KEL_XML_POOL_BLOCK *first = NewBlock(blockSize, sizeof(PoolIndex));
    if (first == nullptr) return nullptr;
    PoolIndex *index = IndexOf(first);
    index->last = first;
    index->count = 1;
    return first;
}

void *XmlPoolAllocRaw(KEL_XML_POOL *pool, int32_t size) noexcept {
    if (pool == nullptr || size < 1 || size > INT32_MAX - kAlign) return nullptr;
    size = (size + kAlign - 1) & ~(kAlign - 1);
    PoolIndex *index = IndexOf(pool);
    if (size <= PrefixMax(index)) {
        uint32_t slot = FirstFit(index, size);
        KEL_XML_POOL_BLOCK *block = index->blocks[slot];
        void *memory = TakeFrom(block, size);
        SetLeaf(index, slot, block->remaining);
        return memory;
    }
    if (size <= index->last->remaining) return TakeFrom(index->last, size);
    return AppendBlock(pool, index, size);
}

void *XmlPoolAlloc(KEL_XML_POOL *pool, int32_t size) noexcept {
    void *memory = XmlPoolAllocRaw(pool, size);
    if (memory != nullptr) std::memset(memory, 0, static_cast<size_t>(size));
    return memory;
}

// The chain's order, read from the index where there is one: the addresses are known
// ahead, so the allocator's headers (just before each block) are fetched while one is freed.
void XmlPoolDestroy(KEL_XML_POOL *pool) noexcept {
    if (pool == nullptr) return;
    PoolIndex *index = IndexOf(pool);            // lives in the first block: read before it goes
    KEL_XML_POOL_BLOCK **array = index->blocks;  // null while the pool has one block
    KEL_XML_POOL_BLOCK **blocks = array != nullptr ? array : &pool;
    uint32_t count = index->count;
    constexpr uint32_t kAhead = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (i + kAhead < count)
            __builtin_prefetch(reinterpret_cast<char *>(blocks[i + kAhead]) - 16);
        XmlFree(blocks[i]);
    }
    XmlFree(array);
}
