// misbehaving: a test plug-in that does what a faulty plug-in might, chosen by its first input.
//
//   out = misbehaving(mode, A)
//
// mode 1  returns a copy of A (behaves)
//      2  leaves its output unset
//      3  destroys its input A
//      4  hands A itself out as its output
//      5  writes zeros over A's values, then returns a copy of it
//      6  raises the message "misbehaving on purpose"
#include "mex.h"

#include <cstring>

void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) mexErrMsgTxt("two inputs: mode and an array");
    const mxArray* a = prhs[1];
    switch (static_cast<int>(mxGetScalar(prhs[0]))) {
    case 1:
        plhs[0] = mxDuplicateArray(a);
        break;
    case 2:
        break;
    case 3:
        mxDestroyArray(const_cast<mxArray*>(a));
        break;
    case 4:
        plhs[0] = const_cast<mxArray*>(a);
        break;
    case 5:
        if (mxIsDouble(a) && !mxIsSparse(a))
            std::memset(mxGetPr(a), 0, mxGetNumberOfElements(a) * sizeof(double));
        plhs[0] = mxDuplicateArray(a);
        break;
    default:
        mexErrMsgTxt("misbehaving on purpose");
    }
}
