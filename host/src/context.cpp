#include "context.h"

#include "memory.h"
#include "mexhost/errors.h"

#include <unordered_map>

namespace mexhost {
namespace {

thread_local call_context* innermost = nullptr;

struct block_info {
    std::size_t bytes;
    call_context* context;
};

std::unordered_map<void*, block_info>& blocks() {
    static std::unordered_map<void*, block_info> live;
    return live;
}

std::unordered_set<const mxArray*>& arrays() {
    static std::unordered_set<const mxArray*> live;
    return live;
}

}  // namespace

void fault(const std::string& message) { throw host_fault(message); }

void raise_error(const std::string& message) { throw plugin_error(message); }

call_context::call_context(const mxArray* const* inputs, int count) : previous_(innermost) {
    for (int i = 0; i < count; ++i) {
        auto* input = const_cast<mxArray*>(inputs[i]);
        if (input == nullptr || !detail::is_live(input)) fault("an input is not a live array");
        if (!input->protected_input && inputs_.insert(input).second) input->protected_input = true;
    }
    innermost = this;
}

call_context::~call_context() {
    reclaim();
    for (mxArray* input : inputs_) input->protected_input = false;
    innermost = previous_;
}

call_context* call_context::current() noexcept { return innermost; }

void call_context::grow(std::size_t arrays, std::size_t bytes) {
    live_arrays_ += arrays;
    live_bytes_ += bytes;
    if (live_arrays_ > stats_.peak_live_arrays) stats_.peak_live_arrays = live_arrays_;
    if (live_bytes_ > stats_.peak_live_bytes) stats_.peak_live_bytes = live_bytes_;
}

void call_context::adopt(mxArray* array) {
    owned_.insert(array);
    array->owner = array_owner::call;
    array->context = this;
    grow(1, array->footprint());
}

void call_context::release_ownership(mxArray* array) { owned_.erase(array); }

void call_context::on_free(const mxArray* array) noexcept {
    owned_.erase(const_cast<mxArray*>(array));
    live_arrays_ -= 1;
    live_bytes_ -= array->footprint();
}

void call_context::on_block(std::size_t bytes) { grow(0, bytes); }

void call_context::on_block_free(std::size_t bytes) noexcept { live_bytes_ -= bytes; }

void call_context::count_host_call(const std::string& name) { ++stats_.host_calls[name]; }

mxArray* call_context::hand_out(mxArray* array) {
    if (array == nullptr || !detail::is_live(array)) fault("an output is not a live array");
    if (array->protected_input) fault("an input was handed out as an output");
    if (owned_.count(array) == 0) fault("an output was not made by this call or is stored in a cell");
    owned_.erase(array);
    array->owner = array_owner::caller;
    // The array outlives the call: detach it and every element it holds.
    std::vector<mxArray*> pending{array};
    while (!pending.empty()) {
        mxArray* a = pending.back();
        pending.pop_back();
        a->context = nullptr;
        for (mxArray* element : a->cells)
            if (element != nullptr) pending.push_back(element);
    }
    return array;
}

void call_context::reclaim() noexcept {
    while (!owned_.empty()) {
        mxArray* array = *owned_.begin();
        owned_.erase(owned_.begin());
        ++stats_.reclaimed_arrays;
        detail::free_array(array);
    }
    std::size_t bytes = 0;
    stats_.reclaimed_blocks += detail::reclaim_blocks(this, &bytes);
    stats_.reclaimed_bytes += bytes;
}

namespace detail {

void* allocate_block(std::size_t bytes, bool zeroed) {
    void* block = memory::allocate(bytes, zeroed);
    call_context* context = call_context::current();
    try {
        blocks().emplace(block, block_info{bytes, context});
    } catch (...) {
        memory::release(block, bytes);
        throw;
    }
    if (context != nullptr) context->on_block(bytes);
    return block;
}

void free_block(void* block) {
    if (block == nullptr) return;
    auto it = blocks().find(block);
    if (it == blocks().end()) fault("mxFree of a block that the host did not allocate or that is already free");
    const block_info info = it->second;
    blocks().erase(it);
    if (info.context != nullptr) info.context->on_block_free(info.bytes);
    memory::release(block, info.bytes);
}

std::size_t reclaim_blocks(const call_context* context, std::size_t* bytes) noexcept {
    std::size_t count = 0;
    auto& live = blocks();
    for (auto it = live.begin(); it != live.end();) {
        if (it->second.context != context) {
            ++it;
            continue;
        }
        ++count;
        *bytes += it->second.bytes;
        memory::release(it->first, it->second.bytes);
        it = live.erase(it);
    }
    return count;
}

bool is_live(const mxArray* array) noexcept { return arrays().count(array) != 0; }

void register_array(mxArray* array) { arrays().insert(array); }

void unregister_array(const mxArray* array) noexcept { arrays().erase(array); }

}  // namespace detail
}  // namespace mexhost
