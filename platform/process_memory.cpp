#include "platform/process_memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace torvek::platform {
namespace {

// The allocator's own mmap threshold, trim threshold and top pad, 128 KB each (glibc, mallopt(3)).
constexpr std::size_t kDefaultAllocatorThreshold = 128 * 1024;

}  // namespace

void prepareHeapForShortRun() {
    // Under a limit of the address space (ulimit -v) the heap keeps the allocator's own settings:
    // a growth step that no longer fits would make small allocations fail where they would
    // otherwise succeed, and memory must run short where it would without these settings, with
    // the report the run gives then.
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) != 0 || addressSpace.rlim_cur != RLIM_INFINITY)
        return;
    // The adjustment's bytes and results are the same whichever settings hold; only the number of
    // page faults and mappings changes. Each setting that is refused simply leaves its default.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargestHeapBlock));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kLargestHeapBlock));
    mallopt(M_TOP_PAD, static_cast<int>(kHeapGrowthStep));
    // One allocation of a step, untouched, makes the allocator grow the heap by two steps now, so
    // that the advice below covers the room the run will use (volatile: a compiler may drop an
    // unused pair). Address room only: pages the run never touches are never backed.
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* volatile probe = std::malloc(kHeapGrowthStep);
    std::free(probe);
    if (probe == nullptr) {
        // No room for the steps (the system refuses to promise the memory): the defaults again.
        mallopt(M_MMAP_THRESHOLD, static_cast<int>(kDefaultAllocatorThreshold));
        mallopt(M_TRIM_THRESHOLD, static_cast<int>(kDefaultAllocatorThreshold));
        mallopt(M_TOP_PAD, static_cast<int>(kDefaultAllocatorThreshold));
        return;
    }
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    if (before == static_cast<std::uintptr_t>(-1) || after <= before)
        return;
    // Only whole huge pages inside the heap's new room are advised.
    const std::uintptr_t start = (before + kHugePageSize - 1) & ~(kHugePageSize - 1);
    if (after > start + kHugePageSize)
        madvise(reinterpret_cast<void*>(start), after - start, MADV_HUGEPAGE);
}

}  // namespace torvek::platform
