#include "contract.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace toolbox_fuzz {
namespace {

// The call being checked, for the report of a finding.
const call_case* current = nullptr;

std::string describe(const mxArray* a) {
    std::ostringstream s;
    s << mxGetClassName(a) << (mxIsSparse(a) ? " sparse" : "") << (mxIsComplex(a) ? " complex" : "") << " ";
    const mwSize* dims = mxGetDimensions(a);
    for (mwSize i = 0; i < mxGetNumberOfDimensions(a); ++i) s << (i > 0 ? "x" : "") << dims[i];
    if (mxIsDouble(a) && mxGetNumberOfElements(a) == 1 && !mxIsSparse(a)) s << " = " << mxGetScalar(a);
    return s.str();
}

std::string describe(const call_case& c) {
    std::ostringstream s;
    s << "nlhs " << c.nlhs << ", " << c.inputs.size() << " inputs";
    for (const mexhost::array_ptr& a : c.inputs) s << "; " << describe(a.get());
    return s.str();
}

// The message that the argument counts call for, tested in the order every gateway uses;
// "" within the bounds.
std::string count_message(int nlhs, int nrhs, const call_form& form) {
    if (nlhs < form.min_out) return "Too few output arguments.";
    if (nlhs > form.max_out) return "Too many output arguments.";
    if (nrhs < form.min_in) return "Too few input arguments.";
    if (nrhs > form.max_in) return "Too many input arguments.";
    return "";
}

outcome invoke(mexhost::plugin& p, const call_case& c) {
    outcome o;
    try {
        o.outputs = p.call(c.nlhs, c.views());
    } catch (const mexhost::plugin_error& e) {
        o.failed = true;
        o.message = e.what();
    } catch (const mexhost::host_fault& e) {
        finding(std::string("the host reports a broken contract: ") + e.what());
    }
    o.stats = p.last_stats();
    return o;
}

bool same_bytes(const void* a, const void* b, std::size_t bytes) {
    return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

void require_same(const outcome& a, const outcome& b) {
    require(a.failed == b.failed && a.message == b.message, "a repeated call ended differently");
    require(a.outputs.size() == b.outputs.size(), "a repeated call gave a different number of outputs");
    for (std::size_t i = 0; i < a.outputs.size(); ++i)
        if (!mexhost::identical(a.outputs[i].get(), b.outputs[i].get()))
            finding("a repeated call gave different bits in output " + std::to_string(i + 1));
}

}  // namespace

void finding(const std::string& what) {
    std::fprintf(stderr, "\n==== contract broken: %s\n", what.c_str());
    if (current != nullptr) std::fprintf(stderr, "==== call: %s\n", describe(*current).c_str());
    std::fflush(stderr);
    std::abort();
}

std::string show(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (0x%016llx)", v, static_cast<unsigned long long>(bits(v)));
    return text;
}

std::string scalar_message(const mxArray* a) {
    if (mxIsCell(a)) return "mxGetScalar: the argument is not numeric";
    if (mxIsEmpty(a)) return "mxGetScalar: the argument is empty";
    return "";
}

void require_error(const outcome& o, const std::string& message, std::size_t reclaimed_arrays,
                   std::size_t reclaimed_blocks) {
    if (!o.failed) finding("the call succeeded; expected the message \"" + message + "\"");
    if (o.message != message) finding("the message is \"" + o.message + "\"; expected \"" + message + "\"");
    if (o.stats.reclaimed_arrays > reclaimed_arrays)
        finding("the failed call left " + std::to_string(o.stats.reclaimed_arrays) + " arrays to the host");
    if (o.stats.reclaimed_blocks > reclaimed_blocks)
        finding("the failed call left " + std::to_string(o.stats.reclaimed_blocks) + " scratch blocks to the host");
}

void require_outputs(const outcome& o, std::size_t count, std::size_t reclaimed_arrays) {
    if (o.failed) finding("the call failed with \"" + o.message + "\"; expected it to succeed");
    if (o.outputs.size() != count)
        finding(std::to_string(o.outputs.size()) + " outputs; expected " + std::to_string(count));
    if (o.stats.reclaimed_arrays != reclaimed_arrays)
        finding("the call left " + std::to_string(o.stats.reclaimed_arrays) + " arrays to the host; expected " +
                std::to_string(reclaimed_arrays));
    if (o.stats.reclaimed_blocks != 0)
        finding("the call left " + std::to_string(o.stats.reclaimed_blocks) + " scratch blocks to the host");
}

void require_shape_copy(const mxArray* out, const mxArray* in, const std::string& name) {
    if (mxGetClassID(out) != mxGetClassID(in)) finding(name + " changed class");
    if (mxIsComplex(out) != mxIsComplex(in)) finding(name + " changed complexity");
    if (mxIsSparse(out) != mxIsSparse(in)) finding(name + " changed storage");
    if (mexhost::dims_of(out) != mexhost::dims_of(in)) finding(name + " changed dimensions");
    const std::size_t elements = mxGetNumberOfElements(in);
    const double* out_re = mxGetPr(out);
    const double* in_re = mxGetPr(in);
    if (mxIsSparse(in)) {
        const std::size_t columns = mxGetN(in);
        const auto slots = static_cast<std::size_t>(mxGetNzmax(in));
        const auto stored = static_cast<std::size_t>(mxGetJc(in)[columns]);
        if (static_cast<std::size_t>(mxGetNzmax(out)) != slots) finding(name + " changed the number of slots");
        if (!same_bytes(mxGetJc(out), mxGetJc(in), (columns + 1) * sizeof(mwIndex)))
            finding(name + " changed the column starts");
        if (!same_bytes(mxGetIr(out), mxGetIr(in), slots * sizeof(mwIndex))) finding(name + " changed the row indices");
        if (!same_bytes(out_re + stored, in_re + stored, (slots - stored) * sizeof(double)))
            finding(name + " wrote past the stored values");
        if (mxIsComplex(in) && !same_bytes(mxGetPi(out), mxGetPi(in), slots * sizeof(double)))
            finding(name + " changed imaginary parts");
        return;
    }
    const auto n = static_cast<std::size_t>(mxGetDimensions(in)[0]);
    const std::size_t page = elements >= n * n ? n * n : 0;
    if (!same_bytes(out_re + page, in_re + page, (elements - page) * sizeof(double)))
        finding(name + " changed values after the first page");
    if (mxIsComplex(in) && !same_bytes(mxGetPi(out), mxGetPi(in), elements * sizeof(double)))
        finding(name + " changed imaginary parts");
}

void run_one(mexhost::plugin& p, const target& t, const std::uint8_t* data, std::size_t size) {
    const call_case c = decode(data, size, t.form);
    current = &c;
    // For replaying a saved input: TOOLBOX_FUZZ_SHOW=1 fuzz_<plugin> <file> prints the call.
    static const bool show = std::getenv("TOOLBOX_FUZZ_SHOW") != nullptr;
    if (show) std::fprintf(stderr, "call: %s\n", describe(c).c_str());
    const outcome o = invoke(p, c);
    const std::string counts = count_message(c.nlhs, static_cast<int>(c.inputs.size()), t.form);
    if (!counts.empty())
        require_error(o, counts);
    else
        t.judge(c, o);
    if (c.repeat) require_same(o, invoke(p, c));
    current = nullptr;
}

}  // namespace toolbox_fuzz
