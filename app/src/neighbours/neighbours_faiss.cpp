// Exact nearest neighbours with a FAISS flat index proposing candidates: it searches every point
// in single precision, the distance of the dense route decides among its candidates, and the
// margin test of certified_search proves that nothing it left out belongs in a list.
#include "neighbours/neighbour_parts.h"

#include "rotalign/support/blas_threads.h"

#include <faiss/IndexFlat.h>

#include <algorithm>

namespace rotalign::detail {

std::size_t faiss_search(const points& p, neighbour_lists& out, unsigned threads) {
    const proposal_points<float> space = prepare_proposal<float>(p);
    const std::size_t d = p.dims;
    const single_blas_thread blas_threads;
    faiss::IndexFlatL2 index(static_cast<faiss::Index::idx_t>(d));
    index.add(static_cast<faiss::Index::idx_t>(p.count), space.values.data());
    const std::vector<std::uint32_t> failed = certified_search<float>(
        p, out, threads, {}, space,
        [&](const std::vector<std::uint32_t>& queries, std::size_t k, std::uint32_t* ids, double* distances) {
            // Batches of queries bound the memory of FAISS's results; FAISS spreads each batch
            // over its own threads.
            const std::size_t batch = 8192;
            std::vector<float> asked, found;
            std::vector<faiss::Index::idx_t> labels;
            for (std::size_t first = 0; first < queries.size(); first += batch) {
                const std::size_t q = std::min(batch, queries.size() - first);
                asked.resize(q * d);
                found.resize(q * k);
                labels.resize(q * k);
                for (std::size_t t = 0; t < q; ++t)
                    std::copy_n(&space.values[std::size_t{queries[first + t]} * d], d, &asked[t * d]);
                index.search(static_cast<faiss::Index::idx_t>(q), asked.data(), static_cast<faiss::Index::idx_t>(k),
                             found.data(), labels.data());
                for (std::size_t r = 0; r < q * k; ++r) {
                    ids[first * k + r] = static_cast<std::uint32_t>(labels[r]);
                    distances[first * k + r] = static_cast<double>(found[r]);
                }
            }
        },
        false);
    settle_in_double(p, out, threads, failed);
    return failed.size();
}

}  // namespace rotalign::detail
