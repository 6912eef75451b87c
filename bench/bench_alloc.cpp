// bench_alloc.cpp - libvx_bench_alloc.so: malloc & co. forwarded to glibc with a byte counter.
//
// vx_bench preloads it (LD_PRELOAD) into a child process of its own that only counts, so that
// every library (ours, the peers', and libstdc++ whose operator new calls malloc) binds to these
// functions there, while the timed process calls glibc directly: the detour cost 9 % of a heap
// document's parse + free (one call more per allocation and per free).
#include "bench_alloc.h"

#include <malloc.h>
#include <unistd.h>

#include <cstddef>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
void *__libc_memalign(size_t alignment, size_t size);
}

namespace {

bool g_counting = false;
vxb::HeapCount g_count;

inline void Added(void *block) {
    if (!g_counting || block == nullptr) return;
    g_count.live += static_cast<int64_t>(malloc_usable_size(block));
    if (g_count.live > g_count.peak) g_count.peak = g_count.live;
    ++g_count.blocks;
}

inline void Removed(void *block) {
    if (!g_counting || block == nullptr) return;
    g_count.live -= static_cast<int64_t>(malloc_usable_size(block));
}

}  // namespace

#define VXB_EXPORT __attribute__((visibility("default")))

extern "C" {

VXB_EXPORT void vxb_heap_count_start() {
    g_count = vxb::HeapCount{};
    g_counting = true;
}

VXB_EXPORT void vxb_heap_count_stop(vxb::HeapCount *seen) {
    g_counting = false;
    *seen = g_count;
}

VXB_EXPORT void *malloc(size_t size) noexcept {
    void *block = __libc_malloc(size);
    Added(block);
    return block;
}

VXB_EXPORT void *calloc(size_t count, size_t size) noexcept {
    void *block = __libc_calloc(count, size);
    Added(block);
    return block;
}

VXB_EXPORT void free(void *block) noexcept {
    Removed(block);
    __libc_free(block);
}

VXB_EXPORT void *realloc(void *block, size_t size) noexcept {
    if (!g_counting) return __libc_realloc(block, size);
    if (block == nullptr) return malloc(size);
    int64_t before = static_cast<int64_t>(malloc_usable_size(block));
    void *moved = __libc_realloc(block, size);
    if (moved == nullptr) {
        if (size == 0) g_count.live -= before;  // glibc freed the block
        return nullptr;
    }
    g_count.live += static_cast<int64_t>(malloc_usable_size(moved)) - before;
    if (g_count.live > g_count.peak) g_count.peak = g_count.live;
    return moved;
}

VXB_EXPORT void *memalign(size_t alignment, size_t size) noexcept {
    void *block = __libc_memalign(alignment, size);
    Added(block);
    return block;
}

VXB_EXPORT void *aligned_alloc(size_t alignment, size_t size) noexcept {
    return memalign(alignment, size);
}

VXB_EXPORT int posix_memalign(void **out, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void *block = memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}

VXB_EXPORT void *valloc(size_t size) noexcept {
    return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

VXB_EXPORT void *pvalloc(size_t size) noexcept {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return memalign(page, (size + page - 1) / page * page);
}

}  // extern "C"
