// The affinity plug-in's call, as every route makes it: on one process and on each rank's columns.
#pragma once

#include "rotalign/support/affinity_kind.h"
#include "rotalign/support/toolbox.h"

namespace rotalign {

// The affinities of the distance matrix d (dense, or sparse with the pattern kept) by the plug-in
// of the kernel's kind: pellor with the global scale, or brenmoss / olvane with the local scales'
// neighbour count, whose scaled distances (the first output) are dropped at once.
mexhost::array_ptr plugin_affinities(toolbox& plugins, const mxArray* d, const affinity_kernel& kernel);

}  // namespace rotalign
