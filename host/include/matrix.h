/* matrix.h: the array half (libmx) of the stand-in host's C interface.
 *
 * Plug-ins include this header, through mex.h, exactly as they would include a real host's.
 * mxArray is opaque here; its layout lives in the host's sources. Dimensions, cell indices and
 * the sparse Ir/Jc entries are 32-bit signed integers (mwSize, mwIndex).
 */
#ifndef MEXHOST_MATRIX_H
#define MEXHOST_MATRIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#if defined(_WIN32)
#  if defined(MEXHOST_BUILDING_LIBMX)
#    define MX_API __declspec(dllexport)
#  else
#    define MX_API __declspec(dllimport)
#  endif
#else
#  define MX_API __attribute__((visibility("default")))
#endif

typedef int32_t mwSize;
typedef int32_t mwIndex;
typedef int32_t mwSignedIndex;

typedef struct mxArray_tag mxArray;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

typedef bool mxLogical;
typedef uint16_t mxChar;

/* The seven operations whose interface changed with 32-bit indices are bound under versioned
 * names; a plug-in's call of the plain name imports the versioned one. The 32-bit Linux build
 * binds the plain names at the libraries' symbol version instead. */
#if !(defined(__linux__) && defined(__i386__))
#  define mxGetDimensions mxGetDimensions_700
#  define mxGetIr mxGetIr_700
#  define mxGetJc mxGetJc_700
#  define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#  define mxCreateCellMatrix mxCreateCellMatrix_700
#  define mxGetCell mxGetCell_700
#  define mxSetCell mxSetCell_700
#endif

/* Host memory: blocks belong to the current call and are reclaimed when it ends. */
MX_API void* mxCalloc(size_t count, size_t size);
MX_API void* mxMalloc(size_t size);
MX_API void mxFree(void* block);

/* Creation. Every new array is zero-filled. */
MX_API mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
MX_API mxArray* mxCreateDoubleScalar(double value);
MX_API mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID class_id, mxComplexity complexity);
MX_API mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID class_id,
                                     mxComplexity complexity);
MX_API mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n);
MX_API mxArray* mxCreateString(const char* text);
MX_API mxArray* mxCreateSparse(mwSize m, mwSize n, mwSize nzmax, mxComplexity complexity);
MX_API mxArray* mxCreateCellMatrix(mwSize m, mwSize n);
MX_API mxArray* mxDuplicateArray(const mxArray* array);
MX_API void mxDestroyArray(mxArray* array);

/* Class and shape. */
MX_API mxClassID mxGetClassID(const mxArray* array);
MX_API const char* mxGetClassName(const mxArray* array);
MX_API bool mxIsDouble(const mxArray* array);
MX_API bool mxIsSingle(const mxArray* array);
MX_API bool mxIsInt32(const mxArray* array);
MX_API bool mxIsLogical(const mxArray* array);
MX_API bool mxIsChar(const mxArray* array);
MX_API bool mxIsCell(const mxArray* array);
MX_API bool mxIsNumeric(const mxArray* array);
MX_API bool mxIsComplex(const mxArray* array);
MX_API bool mxIsSparse(const mxArray* array);
MX_API bool mxIsEmpty(const mxArray* array);
MX_API mwSize mxGetNumberOfDimensions(const mxArray* array);
MX_API const mwSize* mxGetDimensions(const mxArray* array);
MX_API size_t mxGetM(const mxArray* array);
MX_API size_t mxGetN(const mxArray* array);
MX_API size_t mxGetNumberOfElements(const mxArray* array);
MX_API size_t mxGetElementSize(const mxArray* array);

/* Values. Sparse arrays hand out their stored values in column order. */
MX_API double* mxGetPr(const mxArray* array);
MX_API double* mxGetPi(const mxArray* array);
MX_API void* mxGetData(const mxArray* array);
MX_API void* mxGetImagData(const mxArray* array);
MX_API double mxGetScalar(const mxArray* array);

/* Sparse structure: Jc holds columns + 1 starts, Ir the row of each stored value. */
MX_API mwIndex* mxGetIr(const mxArray* array);
MX_API mwIndex* mxGetJc(const mxArray* array);
MX_API mwSize mxGetNzmax(const mxArray* array);

/* Cells: a stored element belongs to the cell. */
MX_API mxArray* mxGetCell(const mxArray* cell, mwIndex index);
MX_API void mxSetCell(mxArray* cell, mwIndex index, mxArray* value);

#ifdef __cplusplus
}
#endif

#endif
