#include "support/result_bytes.h"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace rotalign::mpi {
namespace {

// Hands every field of r to `field`, in one fixed order; writing and reading both walk it.
template <typename Result, typename Field>
void each_field(Result& r, Field&& field) {
    field(r.groups);
    field(r.chosen);
    field(r.note);
    field(r.runner_up);
    field(r.margin);
    field(r.clear);
    field(r.min_group_size);
    field(r.stray);
    field(r.candidates);
    field(r.choice_points);
    field(r.graphs_agree);
    field(r.at_largest_tried);
    field(r.quality);
    field(r.eigenvalues);
    field(r.solver);
    field(r.searched_rows);
    field(r.eigen_method);
    field(r.graph);
    field(r.graph_neighbours);
    field(r.graph_entries);
    field(r.search);
    field(r.exact_neighbours);
    field(r.recall);
    field(r.unit_contrast);
    field(r.scales_at_floor);
    field(r.median_local_scale);
    field(r.times);
}

template <typename T>
constexpr bool plain = std::is_trivially_copyable_v<T>;

struct writer {
    std::vector<char>& out;

    void raw(const void* from, std::size_t bytes) {
        const char* p = static_cast<const char*>(from);
        out.insert(out.end(), p, p + bytes);
    }
    template <typename T>
    void operator()(const T& value) {
        if constexpr (plain<T>) {
            raw(&value, sizeof value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            (*this)(value.size());
            raw(value.data(), value.size());
        } else if constexpr (std::is_same_v<T, std::optional<typename T::value_type>>) {
            (*this)(value.has_value());
            if (value) (*this)(*value);
        } else {
            static_assert(plain<typename T::value_type>, "a vector of plain values");
            (*this)(value.size());
            raw(value.data(), value.size() * sizeof(typename T::value_type));
        }
    }
};

struct reader {
    const std::vector<char>& in;
    std::size_t at = 0;

    void raw(void* to, std::size_t bytes) {
        if (bytes > in.size() - at) throw std::runtime_error("a result's bytes end early");
        if (bytes > 0) std::memcpy(to, in.data() + at, bytes);
        at += bytes;
    }
    std::size_t length(std::size_t element) {
        std::size_t n = 0;
        raw(&n, sizeof n);
        if (element > 0 && n > (in.size() - at) / element) throw std::runtime_error("a result's bytes end early");
        return n;
    }
    template <typename T>
    void operator()(T& value) {
        if constexpr (plain<T>) {
            raw(&value, sizeof value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            value.resize(length(1));
            raw(value.data(), value.size());
        } else if constexpr (std::is_same_v<T, std::optional<typename T::value_type>>) {
            bool present = false;
            (*this)(present);
            value.reset();
            if (present) (*this)(value.emplace());
        } else {
            value.resize(length(sizeof(typename T::value_type)));
            raw(value.data(), value.size() * sizeof(typename T::value_type));
        }
    }
};

}  // namespace

std::vector<char> result_bytes(const cluster_result& r) {
    std::vector<char> out;
    each_field(r, writer{out});
    return out;
}

cluster_result result_from_bytes(const std::vector<char>& bytes) {
    cluster_result r;
    reader read{bytes};
    each_field(r, read);
    if (read.at != bytes.size()) throw std::runtime_error("a result's bytes run on past its fields");
    return r;
}

}  // namespace rotalign::mpi
