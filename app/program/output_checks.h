// Checks that keep the program's results from being lost or from overwriting its inputs.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace rotalign {

// A file that the program reads or writes, with the option that names it ("" for the positional
// input).
struct named_file {
    std::string option;
    std::string path;
};

// Every pair of outputs, or of an output and an input, that are one file (the same device and
// inode, or the same path where the files do not exist yet); none when they are all apart.
struct file_clash {
    named_file output, other;
};
std::vector<file_clash> clashes(const std::vector<named_file>& inputs, const std::vector<named_file>& outputs);

// Why `path` cannot be written (a missing folder, a folder in its place, no permission), or ""
// when it can. Nothing is created or truncated.
std::string unwritable_reason(const std::string& path);

// Bytes of memory this machine has; 0 when the system does not say.
double physical_memory();

// Throws std::runtime_error naming `what` when the stream failed (a full disk, a closed
// standard output), with the system's reason where it gave one.
void check_written(std::ostream& stream, const std::string& what);

}  // namespace rotalign
