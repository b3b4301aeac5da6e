// interrupting: a test plug-in that sends its own process SIGINT, as Ctrl-C during a long call
// would, and then returns a copy of its first input for every output asked for. Put in the place
// of an affinity plug-in, it stops the chain at its next interrupt check.
#include "mex.h"

#include <csignal>

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 1) mexErrMsgTxt("one input at least");
    std::raise(SIGINT);
    for (int k = 0; k < (nlhs > 1 ? nlhs : 1); ++k) plhs[k] = mxDuplicateArray(prhs[0]);
}
