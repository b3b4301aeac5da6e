// The concrete mxArray of the stand-in host. Plug-ins see it only as an opaque handle.
#pragma once

#include "matrix.h"

#include <cstddef>
#include <vector>

namespace mexhost {
class call_context;
}

// Who is responsible for releasing an array.
enum class array_owner {
    caller,   // made outside any call: the code that made it destroys it
    call,     // made during a call: the call's context reclaims it unless it is handed out
    cell,     // stored in a cell: destroyed with the cell
};

struct mxArray_tag {
    mxClassID class_id = mxDOUBLE_CLASS;
    bool complex = false;
    bool sparse = false;
    std::vector<mwSize> dims;  // at least two entries

    // Dense: one element per position. Sparse: nzmax values, Ir of nzmax, Jc of columns + 1.
    void* real = nullptr;
    void* imag = nullptr;
    std::size_t data_bytes = 0;  // bytes of `real`, and of `imag` when complex
    mwIndex* ir = nullptr;
    mwIndex* jc = nullptr;
    mwSize nzmax = 0;

    std::vector<mxArray*> cells;  // cell arrays only, null for an empty slot

    array_owner owner = array_owner::caller;
    mexhost::call_context* context = nullptr;  // the call that made it, while it runs
    bool protected_input = false;              // an input of the running call

    std::size_t element_count() const;
    std::size_t columns() const;  // product of the dimensions after the first
    std::size_t footprint() const;  // bytes of data, Ir and Jc
};

namespace mexhost::detail {

std::size_t element_size(mxClassID class_id);
const char* class_name(mxClassID class_id);

// Makes an array of the given class and shape, owned by the running call (or by the caller
// outside a call). Storage is zero-filled unless `zeroed` is false, for a caller that overwrites
// all of it at once.
mxArray* make_array(mxClassID class_id, std::vector<mwSize> dims, bool complex, bool zeroed = true);
mxArray* make_sparse(mwSize m, mwSize n, mwSize nzmax, bool complex, bool zeroed = true);
mxArray* make_cell(std::vector<mwSize> dims);

// Frees an array and everything it holds, without any ownership checks.
void free_array(mxArray* array) noexcept;

}  // namespace mexhost::detail
