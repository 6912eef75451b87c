// bench_heap.cpp - the counting process's side of the heap counter: its entry points, found in
// the preloaded libvx_bench_alloc.so at run time.
#include <dlfcn.h>

#include "bench_alloc.h"

namespace vxb {
namespace {

struct Counter {
    void (*start)() = nullptr;
    void (*stop)(HeapCount *) = nullptr;
};

const Counter &Loaded() {
    static const Counter counter = [] {
        Counter found;
        found.start = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "vxb_heap_count_start"));
        found.stop =
            reinterpret_cast<void (*)(HeapCount *)>(dlsym(RTLD_DEFAULT, "vxb_heap_count_stop"));
        if (found.start == nullptr || found.stop == nullptr) found = Counter{};
        return found;
    }();
    return counter;
}

}  // namespace

bool HeapCounterLoaded() { return Loaded().start != nullptr; }

void HeapCountStart() {
    if (HeapCounterLoaded()) Loaded().start();
}

HeapCount HeapCountStop() {
    HeapCount seen;
    if (HeapCounterLoaded()) Loaded().stop(&seen);
    return seen;
}

}  // namespace vxb
