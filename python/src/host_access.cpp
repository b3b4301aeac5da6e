#include "host_access.h"

#include <pybind11/pybind11.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace rotalign_python {
namespace {

namespace py = pybind11;

// Never destroyed: arrays still waiting at exit are left to the process's end rather than
// released after the host's own state is gone.
std::mutex& host_mutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::atomic<std::thread::id> host_owner{};

std::mutex& waiting_mutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::vector<mexhost::array_ptr>& waiting() {
    static auto* arrays = new std::vector<mexhost::array_ptr>;
    return *arrays;
}

// Releases the arrays left by other threads while the host was in use; the caller holds the host.
void release_waiting() noexcept {
    std::vector<mexhost::array_ptr> arrays;
    {
        const std::lock_guard<std::mutex> guard(waiting_mutex());
        arrays.swap(waiting());
    }
}

}  // namespace

host_lock::host_lock() {
    if (host_owner.load() == std::this_thread::get_id()) {
        nested_ = true;
        return;
    }
    {
        const py::gil_scoped_release unlocked;
        host_mutex().lock();
    }
    host_owner.store(std::this_thread::get_id());
    release_waiting();
}

host_lock::~host_lock() {
    if (nested_) return;
    release_waiting();
    host_owner.store(std::thread::id());
    host_mutex().unlock();
}

void release_from_python(mexhost::array_ptr array) noexcept {
    if (host_owner.load() == std::this_thread::get_id()) {
        array.reset();
        return;
    }
    std::unique_lock<std::mutex> host(host_mutex(), std::try_to_lock);
    if (host.owns_lock()) {
        array.reset();
        release_waiting();
        return;
    }
    const std::lock_guard<std::mutex> guard(waiting_mutex());
    waiting().push_back(std::move(array));
}

}  // namespace rotalign_python
