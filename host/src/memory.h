// Storage for array data. Blocks from 64 KiB on are mapped on their own and kept for reuse after
// release, because faulting in fresh pages is where the time of a large duplication, or of a
// loop that makes and frees medium arrays, goes; blocks from 1 MiB on are backed by transparent
// huge pages. Released blocks are kept while the mapped memory stays within 1 GiB more than the
// most that was in use at once. Small blocks come from the C heap.
#pragma once

#include <cstddef>

namespace mexhost::memory {

// A block of at least `bytes` bytes, zero-filled when `zeroed`; never null (throws bad_alloc).
void* allocate(std::size_t bytes, bool zeroed);
void release(void* block, std::size_t bytes) noexcept;

// Maps `count` blocks for arrays of `bytes` bytes into the kept blocks and has another thread
// fault their pages in, so that the arrays made next of that size find them ready: a fresh
// page costs far more than the copy into it, most on virtual machines, and the faults then run
// beside the caller's work. Only for blocks of 1 MiB and more; a no-op where blocks come from
// the C heap or the system cannot fault a range in without writing it.
void prepare(std::size_t bytes, std::size_t count) noexcept;

// Bytes of the mapped blocks: in use, kept for reuse, the most in use at once, and all that was
// ever mapped fresh. All zero where blocks come from the C heap.
struct usage {
    std::size_t in_use = 0, kept = 0, peak_in_use = 0, mapped = 0;
};
usage current_usage() noexcept;

// Tuning switches, for benchmarks that compare the strategies side by side.
void set_huge_pages(bool enabled) noexcept;
void set_reuse(bool enabled) noexcept;
void drop_cached_blocks() noexcept;

}  // namespace mexhost::memory
