// Memory: the error for an allocation that failed, sizes as people read them, and the memory the
// process may still take under the machine's size and the limits set on the process.
#pragma once

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace rotalign {

// An allocation failed while something was built; what() says what it was and how large. It is
// a std::bad_alloc, so callers that handle running out of memory as such still do.
class memory_error : public std::bad_alloc {
public:
    explicit memory_error(const std::string& message) : message_(message) {}
    const char* what() const noexcept override { return message_.what(); }

private:
    std::runtime_error message_;  // copies without throwing, as an exception's members should
};

// A size in bytes as people read it: "512 B", "3.4 MiB", "12.0 GiB".
std::string byte_size(double bytes);

// Memory that the process may still take, and the fact that sets it, worded for a message:
// "this machine has 23.4 GiB", "its address-space limit (ulimit -v) leaves 3.6 GiB".
struct memory_room {
    double bytes = 0.0;
    std::string reason;
    // Whether bytes is already net of what the process holds: true for the address-space and
    // control group limits, which count the process's use; false for the machine's size.
    bool net_of_own_use = false;
    // Whether the limit is this process's alone (the address-space limit), not shared with the
    // other processes of its machine or control group.
    bool per_process = false;
};

// The tightest of: the machine's physical memory; the address-space limit (RLIMIT_AS) less the
// address space in use; the memory limit of the process's control group less the group's use.
// Nothing when none of them is known.
std::optional<memory_room> memory_room_now();

// The memory the process may take on top of what it already holds: memory_room_now(), less the
// process's resident memory where the room is the machine's size (the reason then says both),
// or the memory the machine has available (MemAvailable), where that is less.
std::optional<memory_room> memory_left_now();

// The process's resident memory in bytes; 0 when it cannot be read.
double resident_bytes();

// The control group part of the above, from the text of /proc/self/cgroup and the folder where
// the control groups are mounted (/sys/fs/cgroup): cgroup v2 (memory.max and memory.current, or
// the same under unified/) or v1 (memory/…/memory.limit_in_bytes and memory.usage_in_bytes), the
// tightest limit along the group's path up to the root. Nothing without a limit.
std::optional<memory_room> control_group_room(std::string_view proc_self_cgroup, const std::string& mount);

}  // namespace rotalign
