#include "rotalign/support/blas_threads.h"

#include <cstdlib>

#include <dlfcn.h>

namespace rotalign {
namespace {

using set_threads = void (*)(int);
using get_threads = int (*)();

struct openblas {
    set_threads set = nullptr;
    get_threads get = nullptr;
};

// OpenBLAS's thread controls, in the libraries loaded with this code (RTLD_DEFAULT searches them
// too), else in an OpenBLAS that is already loaded under its usual name (as an interpreter's
// NumPy may have loaded it).
openblas find_openblas() {
    openblas o;
    o.set = reinterpret_cast<set_threads>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
    o.get = reinterpret_cast<get_threads>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
    if (o.set == nullptr || o.get == nullptr) {
        void* library = dlopen("libopenblas.so.0", RTLD_LAZY | RTLD_NOLOAD);
        if (library == nullptr) return openblas{};
        o.set = reinterpret_cast<set_threads>(dlsym(library, "openblas_set_num_threads"));
        o.get = reinterpret_cast<get_threads>(dlsym(library, "openblas_get_num_threads"));
    }
    if (o.set == nullptr || o.get == nullptr) return openblas{};
    return o;
}

const openblas& blas() {
    static const openblas o = find_openblas();
    return o;
}

}  // namespace

single_blas_thread::single_blas_thread(bool unless_chosen) {
    if ((unless_chosen && std::getenv("OPENBLAS_NUM_THREADS") != nullptr) || blas().set == nullptr) return;
    previous_ = blas().get();
    if (previous_ != 1) blas().set(1);
}

single_blas_thread::~single_blas_thread() {
    if (previous_ > 1) blas().set(previous_);
}

}  // namespace rotalign
