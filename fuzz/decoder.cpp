#include "decoder.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace toolbox_fuzz {
namespace {

using mexhost::array_ptr;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Values that sit on the edges of IEEE arithmetic and of the 32-bit conversion of counts.
const double special_values[32] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    nan,
    -nan,
    inf,
    -inf,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    0.004,
    0.5,
    -0.5,
    2.0,
    2.7,
    1.9,
    1e-300,
    1e300,
    1e154,
    2147483647.0,
    2147483648.0,
    -2147483648.0,
    -2147483649.0,
    4294967296.0,
    1e19,
    0.1,
    3.0,
    3.141592653589793,
    0.9999999999999999,
};

// Classes other than double that an input may have.
const mxClassID other_classes[] = {
    mxSINGLE_CLASS, mxINT8_CLASS,  mxUINT8_CLASS,  mxINT16_CLASS,   mxUINT16_CLASS, mxINT32_CLASS,
    mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,   mxCELL_CLASS,
};
constexpr std::size_t other_class_count = sizeof other_classes / sizeof other_classes[0];

// Storage flags of one input.
enum : std::uint8_t {
    flag_sparse = 1,   // column-compressed (double only)
    flag_complex = 2,  // with imaginary parts (numeric only)
    flag_slack = 4,    // sparse with unused slots after the stored values
    flag_pages = 8,    // one or two dimensions beyond the second
    flag_free = 16,    // the first two dimensions chosen independently
};

// Where an input stands in the call: the matrix, the scalar after it, or a surplus argument.
enum class role { matrix, scalar, surplus };

// A count within [lo, hi] for most bytes; the top 32 byte values give any count from 0 to wild.
int pick_count(std::uint8_t b, int lo, int hi, int wild) {
    if (b < 0xE0) return lo + b % (hi - lo + 1);
    return (b - 0xE0) % (wild + 1);
}

// A dimension up to `bound`; the top 16 byte values give one from large-7 to large instead.
mwSize pick_size(std::uint8_t b, mwSize bound, mwSize large) {
    if (large > 0 && b >= 0xF0) return large - (b & 7);
    return b % (bound + 1);
}

std::vector<mwSize> decode_dims(byte_reader& in, role r, std::uint8_t flags, const call_form& form) {
    const bool free_shape = (flags & flag_free) != 0;
    std::vector<mwSize> dims;
    if (r == role::matrix) {
        const mwSize rows = pick_size(in.byte(), form.max_rows, form.large);
        const mwSize columns = form.square && !free_shape ? rows : pick_size(in.byte(), form.max_columns, form.large);
        dims = {rows, columns};
    } else if (free_shape) {
        const mwSize rows = in.byte() % 3;
        dims = {rows, static_cast<mwSize>(in.byte() % 3)};
    } else {
        dims = {1, 1};
    }
    if ((flags & flag_pages) != 0 && (flags & flag_sparse) == 0) {
        const int extra = 1 + in.byte() % 2;
        for (int i = 0; i < extra; ++i) dims.push_back(in.byte() % 4);
    }
    return dims;
}

std::size_t product(const std::vector<mwSize>& dims) {
    std::size_t count = 1;
    for (mwSize d : dims) count *= static_cast<std::size_t>(d);
    return count;
}

void fill_values(byte_reader& in, double* target, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) target[i] = in.value();
}

// A sparse matrix: per column a mask of the stored rows, then their values. The unused slots
// after the stored values hold what a host may leave there: any row index, any value.
array_ptr decode_sparse(byte_reader& in, mwSize m, mwSize n, std::uint8_t flags) {
    const bool complex = (flags & flag_complex) != 0;
    std::vector<mwIndex> jc{0};
    std::vector<mwIndex> ir;
    const std::size_t mask_bytes = (static_cast<std::size_t>(m) + 7) / 8;
    for (mwSize j = 0; j < n; ++j) {
        std::vector<std::uint8_t> mask(mask_bytes);
        for (std::uint8_t& b : mask) b = in.byte();
        for (mwSize r = 0; r < m; ++r)
            if ((mask[static_cast<std::size_t>(r) / 8] >> (r % 8)) & 1) ir.push_back(r);
        jc.push_back(static_cast<mwIndex>(ir.size()));
    }
    const std::size_t slack = (flags & flag_slack) != 0 ? 1 + in.byte() % 3 : 0;
    const mwIndex garbage_rows[] = {0, -1, m, std::numeric_limits<mwIndex>::max()};
    for (std::size_t s = 0; s < slack; ++s) ir.push_back(garbage_rows[in.byte() % 4]);

    array_ptr a(mxCreateSparse(m, n, static_cast<mwSize>(ir.size()), complex ? mxCOMPLEX : mxREAL));
    std::memcpy(mxGetJc(a.get()), jc.data(), jc.size() * sizeof(mwIndex));
    if (!ir.empty()) std::memcpy(mxGetIr(a.get()), ir.data(), ir.size() * sizeof(mwIndex));
    fill_values(in, mxGetPr(a.get()), ir.size());
    if (complex) fill_values(in, mxGetPi(a.get()), ir.size());
    return a;
}

// A cell whose elements are empty slots or double scalars.
array_ptr decode_cell(byte_reader& in, const std::vector<mwSize>& dims) {
    array_ptr cell(mxCreateCellMatrix(dims[0], dims[1]));
    const std::size_t count = static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]);
    for (std::size_t i = 0; i < count; ++i)
        if (in.byte() & 1) mxSetCell(cell.get(), static_cast<mwIndex>(i), mxCreateDoubleScalar(in.value()));
    return cell;
}

// A dense array of any class but cell. Doubles take decoded values; other classes raw bytes
// (logical ones only 0 and 1, the values a logical may hold).
array_ptr decode_dense(byte_reader& in, mxClassID class_id, const std::vector<mwSize>& dims, std::uint8_t flags) {
    const bool complex = (flags & flag_complex) != 0 && class_id != mxLOGICAL_CLASS && class_id != mxCHAR_CLASS;
    array_ptr a(
        mxCreateNumericArray(static_cast<mwSize>(dims.size()), dims.data(), class_id, complex ? mxCOMPLEX : mxREAL));
    const std::size_t count = product(dims);
    if (class_id == mxDOUBLE_CLASS) {
        fill_values(in, mxGetPr(a.get()), count);
        if (complex) fill_values(in, mxGetPi(a.get()), count);
        return a;
    }
    const std::size_t bytes = count * mxGetElementSize(a.get());
    in.raw(mxGetData(a.get()), bytes);
    if (complex) in.raw(mxGetImagData(a.get()), bytes);
    if (class_id == mxLOGICAL_CLASS) {
        auto* flags_out = static_cast<unsigned char*>(mxGetData(a.get()));
        for (std::size_t i = 0; i < count; ++i) flags_out[i] &= 1;
    }
    return a;
}

array_ptr decode_input(byte_reader& in, role r, const call_form& form) {
    const std::uint8_t class_byte = in.byte();
    const mxClassID class_id =
        class_byte < 0xD0 ? mxDOUBLE_CLASS : other_classes[(class_byte - 0xD0) % other_class_count];
    std::uint8_t flags = in.byte();
    if (class_id != mxDOUBLE_CLASS || r == role::surplus) flags &= static_cast<std::uint8_t>(~flag_sparse);
    if (class_id == mxCELL_CLASS) flags &= static_cast<std::uint8_t>(~flag_pages);
    const std::vector<mwSize> dims = decode_dims(in, r, flags, form);
    if (class_id == mxCELL_CLASS) return decode_cell(in, dims);
    if ((flags & flag_sparse) != 0) return decode_sparse(in, dims[0], dims[1], flags);
    return decode_dense(in, class_id, dims, flags);
}

}  // namespace

std::uint8_t byte_reader::byte() {
    return at_ < size_ ? data_[at_++] : 0;
}

double byte_reader::value() {
    if (exhausted()) return 1.0 + 0.5 * (filler_++ % 7);
    const std::uint8_t b = byte();
    if (b < 0x20) return special_values[b];
    if (b < 0xA0) return (b - 0x20) * 0.25;
    double v;
    raw(&v, sizeof v);
    return v;
}

void byte_reader::raw(void* target, std::size_t bytes) {
    auto* out = static_cast<unsigned char*>(target);
    for (std::size_t i = 0; i < bytes; ++i) out[i] = byte();
}

std::vector<const mxArray*> call_case::views() const {
    std::vector<const mxArray*> v;
    for (const mexhost::array_ptr& a : inputs) v.push_back(a.get());
    return v;
}

call_case decode(const std::uint8_t* data, std::size_t size, const call_form& form) {
    byte_reader in(data, size);
    call_case c;
    c.repeat = (in.byte() & 7) == 7;
    c.nlhs = pick_count(in.byte(), form.min_out, form.max_out, 5);
    const int nrhs = pick_count(in.byte(), form.min_in, form.max_in, 4);
    for (int i = 0; i < nrhs; ++i)
        c.inputs.push_back(decode_input(in, i == 0 ? role::matrix : i == 1 ? role::scalar : role::surplus, form));
    return c;
}

}  // namespace toolbox_fuzz
