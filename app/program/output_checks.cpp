#include "output_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace rotalign {
namespace {

// Two names of one file: the same device and inode when both exist, else the same path once
// made absolute and normal.
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    const bool a_exists = ::stat(a.c_str(), &sa) == 0, b_exists = ::stat(b.c_str(), &sb) == 0;
    if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (a_exists != b_exists) return false;
    std::error_code ea, eb;
    const auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
    return !ea && !eb && ca == cb;
}

}  // namespace

std::vector<file_clash> clashes(const std::vector<named_file>& inputs, const std::vector<named_file>& outputs) {
    std::vector<file_clash> found;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        for (const named_file& in : inputs)
            if (same_file(outputs[k].path, in.path)) found.push_back({outputs[k], in});
        for (std::size_t j = 0; j < k; ++j)
            if (same_file(outputs[k].path, outputs[j].path)) found.push_back({outputs[k], outputs[j]});
    }
    return found;
}

std::string unwritable_reason(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) == 0) {
        if (S_ISDIR(s.st_mode)) return "it is a folder";
        return ::access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    if (::stat(folder.c_str(), &s) != 0) return "no folder " + folder;
    if (!S_ISDIR(s.st_mode)) return folder + " is not a folder";
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? "" : folder + ": " + std::strerror(errno);
}

double physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0.0;
}

void check_written(std::ostream& stream, const std::string& what) {
    errno = 0;
    stream.flush();
    if (stream) return;
    const int reason = errno;
    throw std::runtime_error("cannot write " + what + (reason != 0 ? std::string(": ") + std::strerror(reason) : ""));
}

}  // namespace rotalign
