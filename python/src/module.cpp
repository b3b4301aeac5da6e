// rotalign._core: the rotalign library and the stand-in host's loader, for Python.
//
// The host keeps process-wide state (its live arrays and its memory cache) and is not made for
// threads: every entry takes the host (host_access.h), and NumPy views hand their host arrays
// back through it. The chain runs without the interpreter lock, so that other Python threads go
// on meanwhile, and takes it back between its stages to see whether Ctrl-C was pressed.
#include "arrays.h"
#include "host_access.h"
#include "distances.h"
#include "options.h"
#include "rotalign/support/blas_threads.h"

#include "rotalign/chain.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/support/toolbox.h"

#include <pybind11/stl.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace rotalign_python {
namespace {

// Calls the plug-in `name` with copies of `inputs`; its outputs come back as a tuple. The copies
// are the call's own, so the host need not fingerprint them: the caller's arrays are never
// handed to a plug-in.
py::tuple call(rotalign::toolbox& plugins, const std::string& name, int nout, const py::sequence& inputs) {
    if (nout < 0) throw py::value_error("nout must not be negative");
    const host_lock host;
    std::vector<mexhost::array_ptr> held;
    std::vector<const mxArray*> arguments;
    for (py::handle input : inputs) {
        held.push_back(to_host(input));
        arguments.push_back(held.back().get());
    }
    std::vector<mexhost::array_ptr> outputs;
    {
        rotalign::single_blas_thread one_thread(true);
        mexhost::plugin& plugin = plugins.get(name);
        try {
            outputs = plugin.call(nout, arguments, rotalign::trusted_inputs);
        } catch (const mexhost::plugin_error& e) {
            throw mexhost::plugin_error(name + ": " + e.what());
        }
    }
    held.clear();
    py::tuple result(outputs.size());
    for (std::size_t k = 0; k < outputs.size(); ++k) result[k] = from_host(std::move(outputs[k]));
    return result;
}

// Raises KeyboardInterrupt (or whatever a Python signal handler raises) in the chain, which runs
// without the interpreter lock, when a signal arrived since the last check.
void check_signals() {
    const py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// The chain on the rows of `x` as points, or on `x` as a distance matrix. `x` is float64 and
// two-dimensional; points are copied once into the library's row order, a distance matrix is
// read in place (its layout does not matter once it is known to be symmetric).
py::dict cluster(rotalign::toolbox& plugins, const py::array& x, const py::dict& options, bool precomputed) {
    if (x.ndim() != 2 || !x.dtype().is(py::dtype::of<double>()))
        throw py::type_error("the chain takes a two-dimensional float64 array");
    rotalign::cluster_options o = options_from(options);
    o.interrupt_check = check_signals;
    const auto n = static_cast<std::size_t>(x.shape(0));
    if (n > static_cast<std::size_t>(std::numeric_limits<mwSize>::max()))
        throw py::value_error(std::to_string(n) + " samples do not fit the host's 32-bit sizes");
    const host_lock host;
    rotalign::cluster_result result;
    if (precomputed) {
        if (x.shape(1) != x.shape(0))
            throw py::value_error("a precomputed distance matrix must be square, not " + std::to_string(x.shape(0)) +
                                  " by " + std::to_string(x.shape(1)));
        py::array d = x;
        if (!(x.flags() & (py::array::c_style | py::array::f_style)))
            d = py::array::ensure(x, py::array::c_style);
        const auto* values = static_cast<const double*>(d.data());
        check_distances(values, n, (d.flags() & py::array::c_style) != 0);
        const py::gil_scoped_release unlocked;
        rotalign::single_blas_thread one_thread(true);
        result = rotalign::cluster_distances(plugins, values, n, o);
    } else {
        const auto dims = static_cast<std::size_t>(x.shape(1));
        rotalign::points p{n, dims, std::vector<double>(n * dims)};
        const auto* base = static_cast<const char*>(x.data());
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < dims; ++k)
                std::memcpy(&p.values[i * dims + k],
                            base + static_cast<py::ssize_t>(i) * x.strides(0) +
                                static_cast<py::ssize_t>(k) * x.strides(1),
                            sizeof(double));
        const py::gil_scoped_release unlocked;
        rotalign::single_blas_thread one_thread(true);
        result = rotalign::cluster_points(plugins, p, o);
    }
    return result_to_dict(std::move(result));
}

}  // namespace
}  // namespace rotalign_python

PYBIND11_MODULE(_core, m) {
    using namespace rotalign_python;
    m.doc() = "The rotalign library and the stand-in host's loader";

    py::register_exception<mexhost::plugin_error>(m, "PluginError", PyExc_ValueError);
    py::register_exception<mexhost::host_fault>(m, "HostFault", PyExc_RuntimeError);
    py::register_exception<mexhost::load_error>(m, "LoadError", PyExc_OSError);
    // Data or options that the chain cannot use, the remedies in the estimator's parameters.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const rotalign::option_error& e) {
            const std::string message = rotalign::option_named(e.option()).parameter + " must be " + e.needed() +
                                        ", got " + e.given();
            PyErr_SetString(PyExc_ValueError, message.c_str());
        } catch (const rotalign::input_error& e) {
            PyErr_SetString(PyExc_ValueError, rotalign::worded(e, spelled).c_str());
        } catch (const rotalign::resource_error& e) {
            // More than this machine can take: the MPI program spreads it over several.
            const std::string message =
                std::string(e.what()) + ". rotalign-mpi, the same chain over several processes or machines, is the "
                                        "route for such sizes";
            PyErr_SetString(PyExc_MemoryError, message.c_str());
        }
    });

    py::class_<rotalign::toolbox>(m, "Toolbox", "The plug-ins of one folder, each opened on first use")
        .def(py::init<std::string>(), "folder"_a)
        .def_property_readonly("folder", &rotalign::toolbox::folder)
        .def("call", &call, "name"_a, "nout"_a, "inputs"_a,
             "Calls a plug-in with copies of the inputs; returns its outputs as a tuple")
        .def("cluster", &cluster, "x"_a, "options"_a, "precomputed"_a,
             "Runs the clustering chain; returns its result as a dict");

    m.def(
        "host_memory",
        [] {
            const mexhost::memory_usage u = mexhost::host_memory_usage();
            return py::dict("in_use"_a = u.in_use, "kept"_a = u.kept, "peak_in_use"_a = u.peak_in_use,
                            "mapped"_a = u.mapped);
        },
        "Bytes in the host's separately mapped blocks (64 KiB and more): in use, kept for reuse, the "
        "most in use at once, all ever mapped");

    m.def("option_table", &option_table,
          "The chain's options: name, parameter, kind, least, most, least_excluded, words, default, help");
    // The figures behind the automatic choices, for the estimator's docs.
    m.attr("KNN_GRAPH_FROM") = rotalign::knn_graph_from;
    m.attr("ROTATION_SAMPLE_FROM") = rotalign::rotation_sample_from;
    m.attr("ROTATION_SAMPLE_ROWS") = rotalign::rotation_sample_rows;
    m.attr("DENSE_SOLVER_LIMIT") = rotalign::dense_solver_limit;
    m.attr("GRAPH_ENTRY_BUDGET") = rotalign::graph_entry_budget;

    m.def("plugin_file_name", &mexhost::plugin_file_name, "name"_a,
          "The platform's file name of a plug-in, e.g. 'tarvik.mexa64'");
}
