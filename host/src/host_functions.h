// Host functions that plug-ins call back through mexCallMATLAB, looked up by name.
#pragma once

#include "matrix.h"

namespace mexhost {

using host_function = void (*)(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);

// The function registered under `name`, or null.
host_function find_host_function(const char* name);

// Matrix product of two double matrices (or a scalar and a matrix), real or complex.
void mtimes(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);

}  // namespace mexhost
