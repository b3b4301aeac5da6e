#include "input/local_points.h"

#include "rotalign/input/npy_rows.h"
#include "support/exchange.h"
#include "support/together.h"

namespace rotalign::mpi {

local_points read_local_points(const rank_context& c, const std::string& path) {
    local_points p;
    // Every rank takes the same decision: rank 0 looks at the file for all.
    int npy = 0;
    if (c.root()) npy = path != standard_input && is_npy_file(path) ? 1 : 0;
    MPI_Bcast(&npy, 1, MPI_INT, 0, c.comm);
    if (npy) {
        together(c.comm, [&] {
            const npy_shape shape = npy_shape_of(path);
            const row_blocks blocks{shape.rows, c.size};
            p.total = shape.rows;
            p.first = blocks.first(c.rank);
            p.own = read_npy_rows(path, p.first, blocks.count(c.rank));
        });
        return p;
    }
    points all;
    together(c.comm, [&] {
        if (c.root()) all = read_points_file(path);
    });
    std::uint64_t shape[2] = {all.count, all.dims};
    MPI_Bcast(shape, 2, MPI_UINT64_T, 0, c.comm);
    p.total = static_cast<std::size_t>(shape[0]);
    p.own.dims = static_cast<std::size_t>(shape[1]);
    const row_blocks blocks{p.total, c.size};
    p.first = blocks.first(c.rank);
    p.own.count = blocks.count(c.rank);
    constexpr int tag = 72;
    if (c.root()) {
        for (int r = 1; r < c.size; ++r)
            send_array(c.comm, all.values.data() + blocks.first(r) * all.dims, blocks.count(r) * all.dims, r, tag);
        all.values.resize(p.own.count * p.own.dims);
        all.values.shrink_to_fit();
        p.own.values = std::move(all.values);
    } else {
        p.own.values.resize(p.own.count * p.own.dims);
        receive_array(c.comm, p.own.values.data(), p.own.values.size(), 0, tag);
    }
    return p;
}

points gather_points(const rank_context& c, const local_points& p) {
    points all;
    all.values = gather_to_root(c.comm, p.own.values);
    if (c.root()) {
        all.count = p.total;
        all.dims = p.own.dims;
    }
    return all;
}

}  // namespace rotalign::mpi
