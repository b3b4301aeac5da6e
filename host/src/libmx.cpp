// The array half of the host's C interface (libmx).
#include "array.h"
#include "context.h"
#include "memory.h"

#include "mex.h"

#include <cstring>
#include <limits>
#include <new>

using mexhost::fault;
namespace detail = mexhost::detail;

namespace {

const mxArray* checked(const mxArray* array, const char* operation) {
    if (array == nullptr || !detail::is_live(array))
        fault(std::string(operation) + ": not a live array");
    return array;
}

mxArray* checked(mxArray* array, const char* operation) {
    checked(static_cast<const mxArray*>(array), operation);
    return array;
}

void require_sparse(const mxArray* array, const char* operation) {
    checked(array, operation);
    if (!array->sparse) fault(std::string(operation) + ": the array is not sparse");
}

void require_cell_index(const mxArray* cell, mwIndex index, const char* operation) {
    checked(cell, operation);
    if (cell->class_id != mxCELL_CLASS) fault(std::string(operation) + ": the array is not a cell");
    if (index < 0 || static_cast<std::size_t>(index) >= cell->cells.size())
        fault(std::string(operation) + ": index out of range");
}

template <typename T>
double first_as_double(const void* data) {
    T value;
    std::memcpy(&value, data, sizeof(T));
    return static_cast<double>(value);
}

}  // namespace

extern "C" {

void* mxCalloc(size_t count, size_t size) {
    if (size != 0 && count > std::numeric_limits<size_t>::max() / size) throw std::bad_alloc();
    return detail::allocate_block(count * size, true);
}

void* mxMalloc(size_t size) { return detail::allocate_block(size, false); }

void mxFree(void* block) { detail::free_block(block); }

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
    return detail::make_array(mxDOUBLE_CLASS, {m, n}, complexity == mxCOMPLEX);
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray* a = detail::make_array(mxDOUBLE_CLASS, {1, 1}, false);
    *static_cast<double*>(a->real) = value;
    return a;
}

mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID class_id, mxComplexity complexity) {
    return detail::make_array(class_id, {m, n}, complexity == mxCOMPLEX);
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID class_id,
                              mxComplexity complexity) {
    if (ndim < 0 || (ndim > 0 && dims == nullptr)) fault("mxCreateNumericArray: bad dimensions");
    return detail::make_array(class_id, std::vector<mwSize>(dims, dims + ndim), complexity == mxCOMPLEX);
}

mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n) {
    return detail::make_array(mxLOGICAL_CLASS, {m, n}, false);
}

mxArray* mxCreateString(const char* text) {
    if (text == nullptr) fault("mxCreateString: null text");
    const std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(std::numeric_limits<mwSize>::max()))
        fault("mxCreateString: text too long");
    mxArray* a = detail::make_array(mxCHAR_CLASS, {1, static_cast<mwSize>(length)}, false);
    auto* chars = static_cast<mxChar*>(a->real);
    for (std::size_t i = 0; i < length; ++i) chars[i] = static_cast<unsigned char>(text[i]);
    return a;
}

mxArray* mxCreateSparse(mwSize m, mwSize n, mwSize nzmax, mxComplexity complexity) {
    return detail::make_sparse(m, n, nzmax, complexity == mxCOMPLEX);
}

mxArray* mxCreateCellMatrix(mwSize m, mwSize n) { return detail::make_cell({m, n}); }

mxArray* mxDuplicateArray(const mxArray* source) {
    checked(source, "mxDuplicateArray");
    if (source->class_id == mxCELL_CLASS) {
        mxArray* copy = detail::make_cell(source->dims);
        for (std::size_t i = 0; i < source->cells.size(); ++i) {
            if (source->cells[i] == nullptr) continue;
            mxArray* element = mxDuplicateArray(source->cells[i]);
            mxSetCell(copy, static_cast<mwIndex>(i), element);
        }
        return copy;
    }
    // Every byte is copied below, so the storage need not be zeroed first.
    mxArray* copy = source->sparse ? detail::make_sparse(source->dims[0], source->dims[1], source->nzmax,
                                                         source->complex, false)
                                   : detail::make_array(source->class_id, source->dims, source->complex, false);
    std::memcpy(copy->real, source->real, source->data_bytes);
    if (source->complex) std::memcpy(copy->imag, source->imag, source->data_bytes);
    if (source->sparse) {
        std::memcpy(copy->ir, source->ir, static_cast<std::size_t>(source->nzmax) * sizeof(mwIndex));
        std::memcpy(copy->jc, source->jc, (source->columns() + 1) * sizeof(mwIndex));
    }
    return copy;
}

void mxDestroyArray(mxArray* array) {
    if (array == nullptr) return;
    if (!detail::is_live(array)) fault("mxDestroyArray of an array that is not live (freed twice, or foreign)");
    if (array->protected_input) fault("mxDestroyArray of an input of the running call");
    if (array->owner == array_owner::cell) fault("mxDestroyArray of an array stored in a cell");
    detail::free_array(array);
}

mxClassID mxGetClassID(const mxArray* a) { return checked(a, "mxGetClassID")->class_id; }
const char* mxGetClassName(const mxArray* a) { return detail::class_name(checked(a, "mxGetClassName")->class_id); }
bool mxIsDouble(const mxArray* a) { return mxGetClassID(a) == mxDOUBLE_CLASS; }
bool mxIsSingle(const mxArray* a) { return mxGetClassID(a) == mxSINGLE_CLASS; }
bool mxIsInt32(const mxArray* a) { return mxGetClassID(a) == mxINT32_CLASS; }
bool mxIsLogical(const mxArray* a) { return mxGetClassID(a) == mxLOGICAL_CLASS; }
bool mxIsChar(const mxArray* a) { return mxGetClassID(a) == mxCHAR_CLASS; }
bool mxIsCell(const mxArray* a) { return mxGetClassID(a) == mxCELL_CLASS; }
bool mxIsNumeric(const mxArray* a) {
    const mxClassID id = mxGetClassID(a);
    return id >= mxDOUBLE_CLASS && id <= mxUINT64_CLASS;
}
bool mxIsComplex(const mxArray* a) { return checked(a, "mxIsComplex")->complex; }
bool mxIsSparse(const mxArray* a) { return checked(a, "mxIsSparse")->sparse; }
bool mxIsEmpty(const mxArray* a) { return checked(a, "mxIsEmpty")->element_count() == 0; }

mwSize mxGetNumberOfDimensions(const mxArray* a) {
    return static_cast<mwSize>(checked(a, "mxGetNumberOfDimensions")->dims.size());
}
const mwSize* mxGetDimensions(const mxArray* a) { return checked(a, "mxGetDimensions")->dims.data(); }
size_t mxGetM(const mxArray* a) { return static_cast<size_t>(checked(a, "mxGetM")->dims[0]); }
size_t mxGetN(const mxArray* a) { return checked(a, "mxGetN")->columns(); }
size_t mxGetNumberOfElements(const mxArray* a) { return checked(a, "mxGetNumberOfElements")->element_count(); }
size_t mxGetElementSize(const mxArray* a) { return detail::element_size(checked(a, "mxGetElementSize")->class_id); }

// Stricter than a real host: reading another class's storage as doubles is always a bug.
double* mxGetPr(const mxArray* a) {
    if (checked(a, "mxGetPr")->class_id != mxDOUBLE_CLASS) fault("mxGetPr of an array that is not double");
    return static_cast<double*>(a->real);
}
double* mxGetPi(const mxArray* a) {
    if (checked(a, "mxGetPi")->class_id != mxDOUBLE_CLASS) fault("mxGetPi of an array that is not double");
    return static_cast<double*>(a->imag);
}
void* mxGetData(const mxArray* a) {
    if (checked(a, "mxGetData")->class_id == mxCELL_CLASS) fault("mxGetData of a cell");
    return a->real;
}
void* mxGetImagData(const mxArray* a) {
    if (checked(a, "mxGetImagData")->class_id == mxCELL_CLASS) fault("mxGetImagData of a cell");
    return a->imag;
}

double mxGetScalar(const mxArray* a) {
    checked(a, "mxGetScalar");
    if (a->class_id == mxCELL_CLASS || a->class_id == mxSTRUCT_CLASS)
        mexhost::raise_error("mxGetScalar: the argument is not numeric");
    if (a->element_count() == 0) mexhost::raise_error("mxGetScalar: the argument is empty");
    if (a->sparse) return a->jc[a->columns()] > 0 ? static_cast<const double*>(a->real)[0] : 0.0;
    switch (a->class_id) {
    case mxLOGICAL_CLASS: return first_as_double<mxLogical>(a->real);
    case mxCHAR_CLASS: return first_as_double<mxChar>(a->real);
    case mxDOUBLE_CLASS: return first_as_double<double>(a->real);
    case mxSINGLE_CLASS: return first_as_double<float>(a->real);
    case mxINT8_CLASS: return first_as_double<int8_t>(a->real);
    case mxUINT8_CLASS: return first_as_double<uint8_t>(a->real);
    case mxINT16_CLASS: return first_as_double<int16_t>(a->real);
    case mxUINT16_CLASS: return first_as_double<uint16_t>(a->real);
    case mxINT32_CLASS: return first_as_double<int32_t>(a->real);
    case mxUINT32_CLASS: return first_as_double<uint32_t>(a->real);
    case mxINT64_CLASS: return first_as_double<int64_t>(a->real);
    case mxUINT64_CLASS: return first_as_double<uint64_t>(a->real);
    default: mexhost::raise_error("mxGetScalar: the argument is not numeric");
    }
}

mwIndex* mxGetIr(const mxArray* a) {
    require_sparse(a, "mxGetIr");
    return a->ir;
}
mwIndex* mxGetJc(const mxArray* a) {
    require_sparse(a, "mxGetJc");
    return a->jc;
}
mwSize mxGetNzmax(const mxArray* a) {
    require_sparse(a, "mxGetNzmax");
    return a->nzmax;
}

mxArray* mxGetCell(const mxArray* cell, mwIndex index) {
    require_cell_index(cell, index, "mxGetCell");
    return cell->cells[static_cast<std::size_t>(index)];
}

void mxSetCell(mxArray* cell, mwIndex index, mxArray* value) {
    require_cell_index(cell, index, "mxSetCell");
    if (cell->protected_input) fault("mxSetCell on an input of the running call");
    if (value != nullptr) {
        checked(value, "mxSetCell");
        if (value == cell) fault("mxSetCell: a cell cannot hold itself");
        if (value->protected_input) fault("mxSetCell: an input cannot be stored in a cell");
        if (value->owner == array_owner::cell) fault("mxSetCell: the array is already stored in a cell");
    }
    mxArray*& slot = cell->cells[static_cast<std::size_t>(index)];
    if (slot != nullptr) {
        slot->owner = array_owner::caller;
        detail::free_array(slot);
    }
    slot = value;
    if (value == nullptr) return;
    if (value->context != nullptr) value->context->release_ownership(value);
    value->owner = array_owner::cell;
}

}  // extern "C"
