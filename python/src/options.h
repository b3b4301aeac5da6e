// The chain's options and results as Python dictionaries: the options as the library's option
// table describes them, the results one table entry per field.
#pragma once

#include "rotalign/chain.h"

#include <pybind11/pybind11.h>

namespace rotalign_python {

namespace py = pybind11;

// cluster_options from {"affinity": "local", "neighbours": 7, ...}: keys not given, or given
// None, keep the library's defaults; an unknown key or value raises ValueError.
rotalign::cluster_options options_from(const py::dict& given);

// The library's option table, one dict per option (name, parameter, kind, least, most,
// least_excluded, words, default, help), for the estimator's checks and docs.
py::list option_table();

// A remedy as Python spells it: "max_groups=16".
std::string spelled(const rotalign::remedy& r);

// Every field of the result under its name; the groups stay 1-based as the library gives them.
py::dict result_to_dict(rotalign::cluster_result result);

}  // namespace rotalign_python
