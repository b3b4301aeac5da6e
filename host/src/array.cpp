#include "array.h"

#include "context.h"
#include "memory.h"

#include <limits>
#include <memory>
#include <new>

std::size_t mxArray_tag::element_count() const {
    std::size_t count = 1;
    for (mwSize d : dims) count *= static_cast<std::size_t>(d);
    return count;
}

std::size_t mxArray_tag::columns() const {
    std::size_t count = 1;
    for (std::size_t i = 1; i < dims.size(); ++i) count *= static_cast<std::size_t>(dims[i]);
    return count;
}

std::size_t mxArray_tag::footprint() const {
    std::size_t bytes = data_bytes * (complex ? 2 : 1);
    if (sparse) bytes += sizeof(mwIndex) * (static_cast<std::size_t>(nzmax) + columns() + 1);
    return bytes;
}

namespace mexhost::detail {
namespace {

// Drops trailing singleton dimensions beyond the second, as hosts report shapes.
std::vector<mwSize> normalised(std::vector<mwSize> dims) {
    while (dims.size() < 2) dims.push_back(dims.empty() ? 0 : 1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    for (mwSize d : dims)
        if (d < 0) fault("a dimension is negative");
    return dims;
}

std::size_t checked_product(std::size_t a, std::size_t b) {
    if (b != 0 && a > std::numeric_limits<std::size_t>::max() / b) throw std::bad_alloc();
    return a * b;
}

struct array_deleter {
    void operator()(mxArray* a) const noexcept { free_array(a); }
};

// Registers a fully built array with the host and with the running call.
mxArray* publish(std::unique_ptr<mxArray, array_deleter> array) {
    register_array(array.get());
    mxArray* a = array.release();
    if (call_context* context = call_context::current()) {
        try {
            context->adopt(a);
        } catch (...) {
            unregister_array(a);
            free_array(a);
            throw;
        }
    }
    return a;
}

}  // namespace

std::size_t element_size(mxClassID class_id) {
    switch (class_id) {
    case mxLOGICAL_CLASS: return sizeof(mxLogical);
    case mxCHAR_CLASS: return sizeof(mxChar);
    case mxDOUBLE_CLASS: return 8;
    case mxSINGLE_CLASS: return 4;
    case mxINT8_CLASS:
    case mxUINT8_CLASS: return 1;
    case mxINT16_CLASS:
    case mxUINT16_CLASS: return 2;
    case mxINT32_CLASS:
    case mxUINT32_CLASS: return 4;
    case mxINT64_CLASS:
    case mxUINT64_CLASS: return 8;
    case mxCELL_CLASS: return sizeof(mxArray*);
    default: return 0;
    }
}

const char* class_name(mxClassID class_id) {
    switch (class_id) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    case mxFUNCTION_CLASS: return "function_handle";
    default: return "unknown";
    }
}

mxArray* make_array(mxClassID class_id, std::vector<mwSize> dims, bool complex, bool zeroed) {
    const std::size_t size = element_size(class_id);
    if (size == 0 || class_id == mxCELL_CLASS) fault("arrays of this class cannot be created here");
    std::unique_ptr<mxArray, array_deleter> a(new mxArray);
    a->class_id = class_id;
    a->complex = complex;
    a->dims = normalised(std::move(dims));
    a->data_bytes = checked_product(a->element_count(), size);
    a->real = memory::allocate(a->data_bytes, zeroed);
    if (complex) a->imag = memory::allocate(a->data_bytes, zeroed);
    return publish(std::move(a));
}

mxArray* make_sparse(mwSize m, mwSize n, mwSize nzmax, bool complex, bool zeroed) {
    if (m < 0 || n < 0 || nzmax < 0) fault("mxCreateSparse: a size is negative");
    std::unique_ptr<mxArray, array_deleter> a(new mxArray);
    a->class_id = mxDOUBLE_CLASS;
    a->complex = complex;
    a->sparse = true;
    a->dims = {m, n};
    a->nzmax = nzmax < 1 ? 1 : nzmax;
    const auto stored = static_cast<std::size_t>(a->nzmax);
    a->data_bytes = checked_product(stored, sizeof(double));
    a->real = memory::allocate(a->data_bytes, zeroed);
    if (complex) a->imag = memory::allocate(a->data_bytes, zeroed);
    a->ir = static_cast<mwIndex*>(memory::allocate(stored * sizeof(mwIndex), zeroed));
    a->jc = static_cast<mwIndex*>(
        memory::allocate((static_cast<std::size_t>(n) + 1) * sizeof(mwIndex), true));
    return publish(std::move(a));
}

mxArray* make_cell(std::vector<mwSize> dims) {
    std::unique_ptr<mxArray, array_deleter> a(new mxArray);
    a->class_id = mxCELL_CLASS;
    a->dims = normalised(std::move(dims));
    a->cells.assign(a->element_count(), nullptr);
    return publish(std::move(a));
}

void free_array(mxArray* array) noexcept {
    if (array == nullptr) return;
    for (mxArray* element : array->cells) free_array(element);
    if (array->context != nullptr) array->context->on_free(array);
    unregister_array(array);
    memory::release(array->real, array->data_bytes);
    memory::release(array->imag, array->data_bytes);
    if (array->sparse) {
        memory::release(array->ir, static_cast<std::size_t>(array->nzmax) * sizeof(mwIndex));
        memory::release(array->jc, (array->columns() + 1) * sizeof(mwIndex));
    }
    delete array;
}

}  // namespace mexhost::detail
