// xml_platform.cpp - our implementation of the OS adapter's tagged allocation and,
// in test builds, the counting and failing heap.
#include "xml_platform.h"

#include "xml_testhooks.h"

#ifdef VX_TESTING
#include <atomic>

namespace {
std::atomic<int64_t> g_live{0};
std::atomic<uint64_t> g_calls{0};
std::atomic<uint64_t> g_failAt{0};  // call number that fails; 0: none
std::atomic<bool> g_sticky{false};
std::atomic<bool> g_hit{false};
std::atomic<size_t> g_largest{0};

void NoteRequest(size_t size) noexcept {
    size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

// Counts one attempt and says whether it must fail.
bool ShouldFail() noexcept {
    uint64_t call = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t at = g_failAt.load(std::memory_order_relaxed);
    if (at == 0 || call < at) return false;
    if (call > at && !g_sticky.load(std::memory_order_relaxed)) return false;
    g_hit.store(true, std::memory_order_relaxed);
    return true;
}
}  // namespace

void XmlTestFailAt(uint64_t nth, bool sticky) noexcept {
    g_sticky.store(sticky);
    g_hit.store(false);
    g_failAt.store(nth == 0 ? 0 : g_calls.load() + nth);
}
int64_t XmlTestLiveBlocks() noexcept { return g_live.load(); }
uint64_t XmlTestAllocCalls() noexcept { return g_calls.load(); }
bool XmlTestFailureHit() noexcept { return g_hit.load(); }
size_t XmlTestTakeLargestRequest() noexcept { return g_largest.exchange(0); }

void *XmlMalloc(size_t size) noexcept {
    NoteRequest(size);
    if (ShouldFail()) return nullptr;
    void *memory = std::malloc(size);
    if (memory) g_live.fetch_add(1, std::memory_order_relaxed);
    return memory;
}

void *XmlCalloc(size_t count, size_t size) noexcept {
    NoteRequest(count * size);
    if (ShouldFail()) return nullptr;
    void *memory = std::calloc(count, size);
    if (memory) g_live.fetch_add(1, std::memory_order_relaxed);
    return memory;
}

void XmlFree(void *memory) noexcept {
    if (memory) g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(memory);
}
#endif

void *ZOTA_MemTypeMallocD(uint32_t size, uint32_t, uint32_t, const char *) noexcept {
    return XmlMalloc(size == 0 ? 1 : size);
}

int ZOTA_MemTypeFreeD(void *block, uint32_t, uint32_t, const char *) noexcept {
    XmlFree(block);
    return 0;
}
