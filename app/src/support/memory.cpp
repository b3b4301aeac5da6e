#include "rotalign/support/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace rotalign {
namespace {

// The first whole number in the file, if the file holds one ("max" and the like are none).
std::optional<double> number_in(const std::string& path) {
    std::ifstream in(path);
    unsigned long long value = 0;
    if (!(in >> value)) return std::nullopt;
    return static_cast<double>(value);
}

// cgroup v1 writes a page-rounded 2^63 for "no limit"; anything this large is none.
constexpr double no_limit = 1e18;

// The tightest limit among the files `limit_file` in `folder` + `path` and in each parent up to
// `folder`, less the use that `usage_file` beside it reports.
std::optional<memory_room> tightest_along(const std::string& folder, std::string path, const char* limit_file,
                                          const char* usage_file) {
    std::optional<memory_room> best;
    for (;;) {
        const std::string group = folder + path + (path.empty() || path.back() != '/' ? "/" : "");
        if (const auto limit = number_in(group + limit_file); limit && *limit < no_limit) {
            const double room = *limit - number_in(group + usage_file).value_or(0.0);
            if (!best || room < best->bytes)
                best = memory_room{room > 0.0 ? room : 0.0,
                                   "its control group's memory limit of " + byte_size(*limit) + " leaves " +
                                       byte_size(room > 0.0 ? room : 0.0),
                                   true};
        }
        if (path.empty() || path == "/") break;
        const auto slash = path.find_last_of('/');
        path = slash == std::string::npos ? "" : path.substr(0, slash);
    }
    return best;
}

std::optional<memory_room> tighter(std::optional<memory_room> a, std::optional<memory_room> b) {
    if (!a) return b;
    if (!b) return a;
    return b->bytes < a->bytes ? b : a;
}

}  // namespace

std::string byte_size(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    std::size_t u = 0;
    while (bytes >= 1024.0 && u + 1 < sizeof units / sizeof units[0]) {
        bytes /= 1024.0;
        ++u;
    }
    char text[48];
    if (u == 0) std::snprintf(text, sizeof text, "%.0f B", bytes);
    else std::snprintf(text, sizeof text, "%.1f %s", bytes, units[u]);
    return text;
}

std::optional<memory_room> control_group_room(std::string_view proc_self_cgroup, const std::string& mount) {
    std::optional<memory_room> best;
    std::istringstream lines{std::string(proc_self_cgroup)};
    std::string line;
    // Lines "id:controllers:path"; "0::path" is the v2 group, "N:...memory...:path" the v1 one.
    while (std::getline(lines, line)) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            for (const char* root : {"", "/unified"})
                best = tighter(best, tightest_along(mount + root, path, "memory.max", "memory.current"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            best = tighter(best, tightest_along(mount + "/memory", path, "memory.limit_in_bytes",
                                                "memory.usage_in_bytes"));
        }
    }
    return best;
}

double resident_bytes() {
    // The second field of statm is the resident set, in pages.
    std::ifstream in("/proc/self/statm");
    unsigned long long size = 0, resident = 0;
    if (!(in >> size >> resident)) return 0.0;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

std::optional<memory_room> memory_left_now() {
    std::optional<memory_room> room = memory_room_now();
    if (room && !room->net_of_own_use) {
        const double held = resident_bytes();
        room->bytes = room->bytes > held ? room->bytes - held : 0.0;
        room->reason += ", " + byte_size(held) + " of it held by this process";
        room->net_of_own_use = true;
    }
    // What other programs hold is not this process's to take: the kernel's estimate of the
    // memory that can be had without swapping, where it is lower.
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);) {
        unsigned long long kib = 0;
        if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) != 1) continue;
        const double available = static_cast<double>(kib) * 1024.0;
        if (!room || available < room->bytes)
            room = memory_room{available, "the machine has " + byte_size(available) + " available", true};
        break;
    }
    return room;
}

std::optional<memory_room> memory_room_now() {
    std::optional<memory_room> best;
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    const double physical = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * page;
    if (physical > 0.0) best = memory_room{physical, "this machine has " + byte_size(physical)};

    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // The first field of statm is the address space in use, in pages.
        const double in_use = number_in("/proc/self/statm").value_or(0.0) * page;
        const double cap = static_cast<double>(limit.rlim_cur);
        const double room = cap > in_use ? cap - in_use : 0.0;
        best = tighter(best, memory_room{room, "its address-space limit (ulimit -v) of " + byte_size(cap) +
                                                   " leaves " + byte_size(room), true, true});
    }

    std::ifstream in("/proc/self/cgroup");
    std::ostringstream text;
    text << in.rdbuf();
    return tighter(best, control_group_room(text.str(), "/sys/fs/cgroup"));
}

}  // namespace rotalign
