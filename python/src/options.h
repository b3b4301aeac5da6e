// The chain's options and results as Python dictionaries, one table entry per field, so that a
// field the library gains takes one line here.
#pragma once

#include "rotalign/chain.h"

#include <pybind11/pybind11.h>

namespace rotalign_python {

namespace py = pybind11;

// cluster_options from {"affinity": "local", "neighbours": 7, ...}: keys not given keep the
// library's defaults; an unknown key or value raises ValueError.
rotalign::cluster_options options_from(const py::dict& given);

// Every field of the result under its name; the groups stay 1-based as the library gives them.
py::dict result_to_dict(rotalign::cluster_result result);

}  // namespace rotalign_python
