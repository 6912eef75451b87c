// bench_alloc.h - heap accounting: every allocation of a counting process is seen, counted
// only while on. The counter lives in libvx_bench_alloc.so, preloaded into that process alone.
#pragma once

#include <cstdint>

namespace vxb {

// Bytes are malloc_usable_size of each block, so every library is counted the same way.
struct HeapCount {
    int64_t live = 0;     // bytes allocated minus bytes freed while counting
    int64_t peak = 0;     // highest value of `live` while counting
    uint64_t blocks = 0;  // allocations made while counting
};

// The counter's entry points in the preloaded library; false in a process without it.
bool HeapCounterLoaded();
void HeapCountStart();      // zeroes the counters and switches counting on
HeapCount HeapCountStop();  // switches counting off and returns what was seen

}  // namespace vxb

extern "C" {
void vxb_heap_count_start();
void vxb_heap_count_stop(vxb::HeapCount *seen);
}
