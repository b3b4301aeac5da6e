// The C++ face of the stand-in host: own arrays, build inputs, open a plug-in by file name and
// call its gateway inside a per-call context that enforces the host's ownership contract.
#pragma once

#include "matrix.h"
#include "mexhost/errors.h"
#include "mexhost/stats.h"

#include <memory>
#include <string>
#include <vector>

namespace mexhost {

struct array_deleter {
    void operator()(mxArray* array) const noexcept;
};
using array_ptr = std::unique_ptr<mxArray, array_deleter>;

// ---- Building and reading arrays -----------------------------------------------------------
// Values are given and returned column by column.
array_ptr make_matrix(mwSize m, mwSize n, const std::vector<double>& values = {});
// An m-by-n double matrix whose values are left as the storage holds them, for a caller that
// writes every one before it reads any (a block reused from an earlier array is not cleared).
array_ptr make_matrix_for_overwrite(mwSize m, mwSize n);
array_ptr make_complex_matrix(mwSize m, mwSize n, const std::vector<double>& real,
                              const std::vector<double>& imag);
array_ptr make_scalar(double value);
array_ptr make_array(const std::vector<mwSize>& dims, const std::vector<double>& values = {});
array_ptr make_numeric(mxClassID class_id, const std::vector<mwSize>& dims);
array_ptr make_string(const std::string& text);
// A sparse m-by-n matrix from its column starts (n + 1), row indices and stored values;
// `imag` non-empty makes it complex. nzmax is the number of stored values (at least 1).
array_ptr make_sparse(mwSize m, mwSize n, const std::vector<mwIndex>& jc,
                      const std::vector<mwIndex>& ir, const std::vector<double>& values,
                      const std::vector<double>& imag = {});

std::vector<mwSize> dims_of(const mxArray* array);
// Real parts: every element of a dense array, the stored values of a sparse one.
std::vector<double> real_values(const mxArray* array);
std::vector<double> imag_values(const mxArray* array);
std::vector<mwIndex> jc_of(const mxArray* array);
std::vector<mwIndex> ir_of(const mxArray* array);
// Bit-exact comparison of two arrays: class, shape, storage, pattern, values, cells.
bool identical(const mxArray* a, const mxArray* b);

// ---- Calling gateways ----------------------------------------------------------------------
using gateway = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

struct call_options {
    bool check_inputs = true;  // fingerprint the inputs before and after the call
};

// Calls `entry` as the host would: max(nlhs, 1) output slots, a fresh per-call context, the
// inputs protected. Returns the outputs that the call set (a requested output left unset is a
// host_fault); a message raised through the error exit becomes plugin_error, and then no output
// survives. `stats`, when given, receives what the host observed, also when the call fails.
std::vector<array_ptr> call_gateway(gateway entry, int nlhs, const std::vector<const mxArray*>& inputs,
                                    call_stats* stats = nullptr, call_options options = {});

// A plug-in opened by file name.
class plugin {
public:
    explicit plugin(const std::string& path);
    ~plugin();
    plugin(plugin&& other) noexcept;
    plugin& operator=(plugin&& other) noexcept;
    plugin(const plugin&) = delete;
    plugin& operator=(const plugin&) = delete;

    std::vector<array_ptr> call(int nlhs, const std::vector<const mxArray*>& inputs,
                                call_options options = {});
    // What the host observed during the last call.
    const call_stats& last_stats() const noexcept { return stats_; }
    const std::string& path() const noexcept { return path_; }
    // Any other name the plug-in exports, or null.
    void* symbol(const char* name) const noexcept;

private:
    void close() noexcept;

    std::string path_;
    void* handle_ = nullptr;
    gateway entry_ = nullptr;
    call_stats stats_;
};

// The platform's file name of a plug-in: "name.mexa64" on Linux x86-64, and so on.
std::string plugin_file_name(const std::string& name);

// Tuning of the host's array memory, for benchmarks.
void set_huge_pages(bool enabled) noexcept;
void set_memory_reuse(bool enabled) noexcept;

// Prepares storage for `count` arrays of `bytes` bytes each (1 MiB and more) that the caller is
// about to make, directly or through a plug-in: another thread faults their pages in while the
// caller goes on. Changes no result; a no-op where array storage comes from the C heap.
void prepare_memory(std::size_t bytes, std::size_t count) noexcept;

// Unmaps the blocks kept for reuse after release, for a caller about to need much memory that no
// array of the host will take (a sparse factorisation): kept, they would stay resident beside it.
// Changes no result; later arrays map their blocks anew.
void release_kept_memory() noexcept;

// What the host's separately mapped blocks (64 KiB and more, on Linux) hold, in bytes: in use by
// arrays and mxCalloc blocks, kept for reuse after release, the most in use at once, and all
// ever mapped fresh. All zero where array storage comes from the C heap.
struct memory_usage {
    std::size_t in_use = 0, kept = 0, peak_in_use = 0, mapped = 0;
};
memory_usage host_memory_usage() noexcept;

}  // namespace mexhost
