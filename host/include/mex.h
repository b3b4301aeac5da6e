/* mex.h: the gateway half (libmex) of the stand-in host's C interface. */
#ifndef MEXHOST_MEX_H
#define MEXHOST_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  if defined(MEXHOST_BUILDING_LIBMEX)
#    define MEX_API __declspec(dllexport)
#  else
#    define MEX_API __declspec(dllimport)
#  endif
#else
#  define MEX_API __attribute__((visibility("default")))
#endif

/* Raises an error: the host abandons the current call and this function never returns. */
MEX_API void mexErrMsgTxt(const char* message)
#if defined(__GNUC__)
    __attribute__((noreturn))
#endif
    ;

/* Calls a host function by name; outputs belong to the caller. Returns 0. */
MEX_API int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name);

/* The gateway every plug-in exports. */
#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
