#include "huge_pages.h"

#include <cstdio>
#include <cstdlib>  // defines __GLIBC__ where the C library is glibc
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(__linux__) && defined(__GLIBC__)
#include <gnu/libc-version.h>
#include <unistd.h>
#endif

namespace rotalign {

namespace {

constexpr const char* tunable = "glibc.malloc.hugetlb";

#if defined(__linux__) && defined(__GLIBC__)
// Closed again before the restart, so that it cannot stand in for a closed standard stream.
std::string file_text(const char* path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}
#endif

}  // namespace

std::optional<std::string> tunables_for_huge_pages(const std::string& thp_mode, const char* tunables,
                                                   int glibc_major, int glibc_minor) {
    if (thp_mode.find("[madvise]") == std::string::npos) return std::nullopt;
    if (glibc_major < 2 || (glibc_major == 2 && glibc_minor < 35)) return std::nullopt;
    const std::string before = tunables == nullptr ? "" : tunables;
    if (before.find(tunable) != std::string::npos) return std::nullopt;
    return before + (before.empty() ? "" : ":") + tunable + "=1";
}

void restart_with_huge_pages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "vgpreload") != nullptr) return;
    const std::string mode = file_text("/sys/kernel/mm/transparent_hugepage/enabled");
    int major = 0;
    int minor = 0;
    if (std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) != 2) return;
    const char* before = std::getenv("GLIBC_TUNABLES");
    const std::optional<std::string> after = tunables_for_huge_pages(mode, before, major, minor);
    if (!after) return;
    const std::string kept = before == nullptr ? "" : before;
    if (setenv("GLIBC_TUNABLES", after->c_str(), 1) != 0) return;
    execv("/proc/self/exe", argv);
    // Still here: the program runs on as it was started.
    if (before == nullptr)
        unsetenv("GLIBC_TUNABLES");
    else
        setenv("GLIBC_TUNABLES", kept.c_str(), 1);
#else
    (void)argv;
#endif
}

}  // namespace rotalign
