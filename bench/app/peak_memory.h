// The peak of the resident set over a stretch of a benchmark, from Linux's /proc.
#pragma once

#include <malloc.h>

#include <fstream>
#include <string>

namespace bench {

// Kibibytes of a field of /proc/self/status ("VmRSS", "VmHWM").
inline double status_kib(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string key;
    double value = 0.0;
    while (in >> key) {
        if (key == field + ":") {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return 0.0;
}

// Starts a new peak of the resident set at the current size (Linux 4.0 on) and returns that
// size; status_kib("VmHWM") then gives the peak since.
inline double reset_peak_kib() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return status_kib("VmRSS");
}

}  // namespace bench
