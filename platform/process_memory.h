#pragma once

#include <cstddef>

namespace torvek::platform {

/// Heap room the program takes in one step when it grows: a run of torvek on a network of some
/// hundred sites (the national network's data sets, scratch records and normal triangle take
/// about 7 MB) stays within one step.
inline constexpr std::size_t kHeapGrowthStep = 16 * 1024 * 1024;
/// Blocks up to this size come from the heap rather than from mappings of their own, and freed
/// room up to twice this size stays with the process: a run allocates, frees and allocates again
/// blocks of some megabytes (data set lists, the triangle) that would otherwise be mapped, faulted
/// in page by page and unmapped each time.
inline constexpr std::size_t kLargestHeapBlock = 32 * 1024 * 1024;
/// Size of a transparent huge page on x86-64 (Linux's HPAGE_PMD_SIZE there).
inline constexpr std::size_t kHugePageSize = 2 * 1024 * 1024;

/// Prepares the heap of a short run whose memory stays within some tens of megabytes (torvek's,
/// not torvek-large's): blocks up to kLargestHeapBlock come from the heap, which grows
/// kHeapGrowthStep at a time, keeps what is freed, and is advised to the system as a candidate for
/// transparent huge pages, so that touching it costs a few faults of kHugePageSize instead of a
/// few thousand faults of 4 KB. The program calls it once, first thing. Under a limit of the
/// address space, or where the system cannot promise the room, the heap keeps the allocator's
/// settings, so that memory runs short exactly where it would without them. Results never depend
/// on it.
void prepareHeapForShortRun();

}  // namespace torvek::platform
