// The per-call context: everything the host hands a plug-in during one call of its gateway
// belongs to the call until the plug-in returns it, destroys it or stores it in a cell. When the
// call ends, on return or through the error exit, the context releases what is left and counts it.
#pragma once

#include "array.h"
#include "mexhost/stats.h"

#include <cstddef>
#include <string>
#include <unordered_set>

namespace mexhost {

class call_context {
public:
    // Opens a call on the current thread; `inputs` stay protected until the call closes.
    call_context(const mxArray* const* inputs, int count);
    ~call_context();
    call_context(const call_context&) = delete;
    call_context& operator=(const call_context&) = delete;

    // The innermost open call, or null outside any call.
    static call_context* current() noexcept;

    // A new array made during the call.
    void adopt(mxArray* array);
    // The array leaves the call's responsibility (stored in a cell or handed out).
    void release_ownership(mxArray* array);
    // Bookkeeping for an array made by this call that is being freed.
    void on_free(const mxArray* array) noexcept;

    void on_block(std::size_t bytes);
    void on_block_free(std::size_t bytes) noexcept;

    void count_host_call(const std::string& name);

    // Takes an output from the call; faults unless the call made it and still holds it.
    mxArray* hand_out(mxArray* array);

    // Releases everything still held and counts it into the stats.
    void reclaim() noexcept;

    const call_stats& stats() const noexcept { return stats_; }

private:
    void grow(std::size_t arrays, std::size_t bytes);

    call_context* previous_;
    std::unordered_set<mxArray*> owned_;
    std::unordered_set<mxArray*> inputs_;
    std::size_t live_arrays_ = 0;
    std::size_t live_bytes_ = 0;
    call_stats stats_;
};

// Reports a broken contract: throws host_fault.
[[noreturn]] void fault(const std::string& message);

// The host's error exit: abandons the running call with `message` (throws plugin_error).
[[noreturn]] void raise_error(const std::string& message);

namespace detail {
// Scratch blocks of mxCalloc/mxMalloc, tracked so that foreign and double frees are caught.
void* allocate_block(std::size_t bytes, bool zeroed);
void free_block(void* block);
// Releases the blocks that belong to `context`; returns their number and bytes.
std::size_t reclaim_blocks(const call_context* context, std::size_t* bytes) noexcept;
// Whether `array` is a live array of this host.
bool is_live(const mxArray* array) noexcept;
void register_array(mxArray* array);
void unregister_array(const mxArray* array) noexcept;
}  // namespace detail

}  // namespace mexhost
