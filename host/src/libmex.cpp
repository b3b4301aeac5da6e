// The gateway half of the host's C interface (libmex): the error exit and calls back into the host.
#include "context.h"
#include "host_functions.h"

#include "mex.h"
#include "mexhost/errors.h"

#include <cstring>
#include <string>

namespace mexhost {
namespace {

struct named_function {
    const char* name;
    host_function function;
};

constexpr named_function host_function_table[] = {
    {"mtimes", mtimes},
};

}  // namespace

host_function find_host_function(const char* name) {
    for (const named_function& entry : host_function_table)
        if (std::strcmp(entry.name, name) == 0) return entry.function;
    return nullptr;
}

}  // namespace mexhost

extern "C" {

void mexErrMsgTxt(const char* message) {
    mexhost::raise_error(message != nullptr ? message : "");
}

int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    if (name == nullptr) mexhost::fault("mexCallMATLAB without a function name");
    if (nlhs < 0 || nrhs < 0 || (nlhs > 0 && plhs == nullptr) || (nrhs > 0 && prhs == nullptr))
        mexhost::fault("mexCallMATLAB: bad argument lists");
    mexhost::host_function function = mexhost::find_host_function(name);
    if (function == nullptr) mexhost::raise_error((std::string("Undefined function called through mexCallMATLAB: ") + name));
    if (mexhost::call_context* context = mexhost::call_context::current()) context->count_host_call(name);
    for (int i = 0; i < nlhs; ++i) plhs[i] = nullptr;
    function(nlhs, plhs, nrhs, prhs);
    return 0;
}

}  // extern "C"
