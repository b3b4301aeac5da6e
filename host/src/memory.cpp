#include "memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__linux__) && !defined(MEXHOST_PLAIN_MEMORY)
#define MEXHOST_MAPPED_BLOCKS 1
#include <sys/mman.h>

#include <system_error>
#include <thread>
#endif

namespace mexhost::memory {
namespace {

#if MEXHOST_MAPPED_BLOCKS
constexpr std::size_t page = std::size_t{4} << 10;
constexpr std::size_t huge_page = std::size_t{2} << 20;
// Blocks from this size on are mapped separately and kept for reuse; below it the C heap is as
// fast. Medium blocks would otherwise come from the heap's own mappings or from its top, which the
// heap returns to the system when they are freed, so that every new block faults its pages in
// again.
constexpr std::size_t mapped_from = std::size_t{64} << 10;
// Blocks from this size on are mapped in whole huge pages, the smaller ones in pages.
constexpr std::size_t huge_from = std::size_t{1} << 20;
// Released blocks are kept for reuse while the mapped memory, in use and kept, stays within the
// most that was ever in use at once plus this much. A chain of N-by-N arrays thus never maps a
// block anew that an earlier one of its size could serve, also when it runs again in the same
// process (at N = 10,000 a block is 763 MiB, and three are in use at once), yet the process
// never holds much more than it once needed.
constexpr std::size_t beyond_peak = std::size_t{1} << 30;

struct cached_block {
    void* address;
    std::size_t length;
};

struct block_cache {
    std::vector<cached_block> blocks;
    std::size_t total = 0;      // bytes of the kept blocks
    std::size_t in_use = 0;     // bytes of mapped blocks handed out and not released
    std::size_t peak_in_use = 0;
    std::size_t mapped = 0;     // bytes ever mapped fresh
    bool huge_pages = true;
    bool reuse = true;

    ~block_cache() { clear(); }

    void clear() noexcept {
        for (const cached_block& b : blocks) munmap(b.address, b.length);
        blocks.clear();
        total = 0;
    }

    // Whether `length` more kept bytes stay within the limit above.
    bool may_keep(std::size_t length) const noexcept {
        return total + length <= peak_in_use - in_use + beyond_peak;
    }

    void take(std::size_t length) noexcept {
        in_use += length;
        if (in_use > peak_in_use) peak_in_use = in_use;
    }

    // Before `length` more bytes are mapped: unmaps kept blocks, the largest first, until the
    // kept ones are within the limit again (those of other sizes than the ones now asked for
    // would otherwise stay mapped beside the new one).
    void make_room(std::size_t length) noexcept {
        const std::size_t after = in_use + length;
        const std::size_t peak = peak_in_use > after ? peak_in_use : after;
        while (total > peak - after + beyond_peak) {
            std::size_t largest = 0;
            for (std::size_t i = 1; i < blocks.size(); ++i)
                if (blocks[i].length > blocks[largest].length) largest = i;
            munmap(blocks[largest].address, blocks[largest].length);
            total -= blocks[largest].length;
            blocks[largest] = blocks.back();
            blocks.pop_back();
        }
    }
};

block_cache& cache() {
    static block_cache instance;
    return instance;
}

std::size_t mapped_length(std::size_t bytes) {
    const std::size_t unit = bytes >= huge_from ? huge_page : page;
    return (bytes + unit - 1) / unit * unit;
}

void* map_block(std::size_t length) {
    if (length < huge_from) {
        void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw std::bad_alloc();
        return block;
    }
    // Over-map by one huge page so that the block can start on a huge-page boundary.
    const std::size_t span = length + huge_page;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + huge_page - 1) / huge_page * huge_page;
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t tail = aligned + length;
    if (start + span > tail) munmap(reinterpret_cast<void*>(tail), start + span - tail);
    void* block = reinterpret_cast<void*>(aligned);
    if (cache().huge_pages) madvise(block, length, MADV_HUGEPAGE);
    return block;
}
#endif

}  // namespace

void* allocate(std::size_t bytes, bool zeroed) {
    if (bytes == 0) bytes = 1;
#if MEXHOST_MAPPED_BLOCKS
    if (bytes >= mapped_from) {
        const std::size_t length = mapped_length(bytes);
        block_cache& c = cache();
        for (std::size_t i = 0; i < c.blocks.size(); ++i) {
            if (c.blocks[i].length != length) continue;
            void* block = c.blocks[i].address;
            c.blocks[i] = c.blocks.back();
            c.blocks.pop_back();
            c.total -= length;
            c.take(length);
            // A reused block holds its last owner's values; a duplicate overwrites all of them.
            if (zeroed) std::memset(block, 0, bytes);
            return block;
        }
        c.make_room(length);
        void* block = map_block(length);  // fresh mappings read as zero
        c.mapped += length;
        c.take(length);
        return block;
    }
#endif
    void* block = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void release(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes == 0) bytes = 1;
#if MEXHOST_MAPPED_BLOCKS
    if (bytes >= mapped_from) {
        const std::size_t length = mapped_length(bytes);
        block_cache& c = cache();
        c.in_use -= length;
        if (c.reuse && c.may_keep(length)) {
            try {
                c.blocks.push_back({block, length});
                c.total += length;
                return;
            } catch (...) {
                // fall through and unmap
            }
        }
        munmap(block, length);
        return;
    }
#endif
    std::free(block);
}

void prepare(std::size_t bytes, std::size_t count) noexcept {
#if MEXHOST_MAPPED_BLOCKS && defined(MADV_POPULATE_WRITE)
    if (bytes < huge_from || count == 0 || !cache().reuse) return;
    const std::size_t length = mapped_length(bytes);
    block_cache& c = cache();
    // Kept blocks of that size are ready already: they were faulted in by their last owner.
    for (const cached_block& b : c.blocks)
        if (b.length == length && count > 0) --count;
    if (count == 0) return;
    std::vector<cached_block> ready;
    try {
        c.make_room(count * length);
        for (std::size_t i = 0; i < count; ++i) {
            c.blocks.push_back({map_block(length), length});
            c.total += length;
            c.mapped += length;
            ready.push_back(c.blocks.back());
        }
        // Faulting a range in leaves its values alone, so the arrays that take these blocks
        // meanwhile may already be written; a block unmapped meanwhile makes the call fail
        // harmlessly. The last block asked for, taken last, is faulted in first.
        std::thread([ready] {
            for (auto b = ready.rbegin(); b != ready.rend(); ++b) madvise(b->address, b->length, MADV_POPULATE_WRITE);
        }).detach();
    } catch (...) {
        // No memory or no thread: the blocks mapped so far are kept unfaulted, as any other.
    }
#else
    (void)bytes;
    (void)count;
#endif
}

usage current_usage() noexcept {
    usage u;
#if MEXHOST_MAPPED_BLOCKS
    const block_cache& c = cache();
    u.in_use = c.in_use;
    u.kept = c.total;
    u.peak_in_use = c.peak_in_use;
    u.mapped = c.mapped;
#endif
    return u;
}

void set_huge_pages(bool enabled) noexcept {
#if MEXHOST_MAPPED_BLOCKS
    cache().huge_pages = enabled;
#else
    (void)enabled;
#endif
}

void set_reuse(bool enabled) noexcept {
#if MEXHOST_MAPPED_BLOCKS
    cache().reuse = enabled;
    if (!enabled) cache().clear();
#else
    (void)enabled;
#endif
}

void drop_cached_blocks() noexcept {
#if MEXHOST_MAPPED_BLOCKS
    cache().clear();
#endif
}

}  // namespace mexhost::memory
