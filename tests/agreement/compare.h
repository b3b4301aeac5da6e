// Reads the record files of two builds and checks that they agree as closely as their
// arithmetic allows.
#pragma once

#include "record.h"

#include <algorithm>
#include <cstdlib>
#include <istream>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace agreement {

// What a build wrote: its platform suffix, the plug-ins it had, and its records in order.
struct dump {
    std::string platform;
    std::set<std::string> plugins;
    std::vector<record> records;
};

// Reads a record file; false, with `error` set, for a line that is not a record.
inline bool read_dump(std::istream& in, dump* d, std::string* error) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.compare(0, 11, "# platform ") == 0) {
            d->platform = line.substr(11);
        } else if (line.compare(0, 9, "# plugin ") == 0) {
            d->plugins.insert(line.substr(9));
        } else {
            record r;
            if (!parse_record(line, &r)) {
                *error = "line " + std::to_string(number) + " is not a record";
                return false;
            }
            d->records.push_back(std::move(r));
        }
    }
    if (d->platform.empty()) {
        *error = "no platform line";
        return false;
    }
    return true;
}

// The plug-ins that each platform ships.
inline std::set<std::string> promised_plugins(const std::string& platform) {
    if (platform == ".mexglx") return {"tarvik", "brenmoss", "pellor", "nimbrel"};
    if (platform == ".mexw32") return {"tarvik", "brenmoss", "pellor"};
    return {"tarvik", "brenmoss", "olvane", "pellor", "nimbrel"};
}

// same: the two builds do the same arithmetic (the two x86-64 builds). Every value must have the
//       same bits, except that the exp of two C libraries may round differently in the last bit.
// x87:  the other build carries intermediates in extended precision and rounds them to double at
//       other points; a few units in the last place per formula, more where exp magnifies them.
enum class mode { same, x87 };

// Units in the last place allowed to an x87 build for one formula: each of its few roundings
// may land on the other side.
constexpr std::uint64_t formula_ulps = 2;
// exp(-q) turns a relative difference e of q into q*e of the result: one unit of q's last place
// becomes up to 2q units of the result's, plus the formula's own.
inline std::uint64_t affinity_ulps(double value) {
    const double q = std::fabs(std::log(std::fabs(value)));
    // Zero, infinity and NaN have no argument to speak of; the cap keeps the conversion defined.
    return formula_ulps + (q < 1e6 ? static_cast<std::uint64_t>(2.0 * q) : 2000000);
}
// A worked example of the search iterates, but converges to the same point on every build.
constexpr double worked_tolerance = 1e-12;

struct class_summary {
    std::size_t records = 0;
    std::size_t values = 0;
    std::size_t identical = 0;
    std::uint64_t max_ulps = 0;
    double max_difference = 0.0;  // absolute, between numbers
};

// Values agree when their bits match, or when both are NaN: the payload of a NaN is not a result.
inline bool same_value(double a, double b) {
    return bits_of(a) == bits_of(b) || (std::isnan(a) && std::isnan(b));
}

inline bool close_enough(double a, double b, result_class cls, mode m) {
    if (same_value(a, b)) return true;
    const std::uint64_t ulps = ulps_between(a, b);
    if (m == mode::same) return cls == result_class::affinity && ulps <= 1;
    switch (cls) {
    case result_class::exact: return false;
    case result_class::formula: return ulps <= formula_ulps;
    case result_class::affinity: return ulps <= affinity_ulps(a);
    case result_class::worked: return ulps <= formula_ulps || std::fabs(a - b) <= worked_tolerance;
    case result_class::search: return true;
    }
    return false;
}

// The kind and the dimensions of a result: the shape tokens before its pattern and elements.
inline std::vector<std::string> outer_shape(const std::vector<std::string>& shape) {
    if (shape.size() < 2) return shape;
    const std::size_t count = 2 + static_cast<std::size_t>(std::max(0, std::atoi(shape[1].c_str())));
    return std::vector<std::string>(shape.begin(), shape.begin() + static_cast<std::ptrdiff_t>(std::min(count, shape.size())));
}

// Compares `other` with `reference`; writes every disagreement and a summary per class to
// `report`. True when they agree.
inline bool compare(const dump& reference, const dump& other, mode m, std::ostream& report) {
    bool ok = true;
    auto fail = [&](const std::string& what) {
        report << "  DISAGREE " << what << "\n";
        ok = false;
    };
    auto plugin_of = [](const std::string& key) { return key.substr(0, key.find('/')); };

    // Every plug-in of the reference that the other platform ships must have run there.
    const std::set<std::string> promised = promised_plugins(other.platform);
    for (const std::string& p : reference.plugins)
        if (promised.count(p) != 0 && other.plugins.count(p) == 0) fail(p + ": missing from " + other.platform);

    std::map<std::string, const record*> theirs;
    for (const record& r : other.records) theirs[r.key] = &r;
    std::set<std::string> seen;
    std::map<result_class, class_summary> summary;
    for (const record& mine : reference.records) {
        if (other.plugins.count(plugin_of(mine.key)) == 0) continue;
        seen.insert(mine.key);
        auto it = theirs.find(mine.key);
        if (it == theirs.end()) {
            fail(mine.key + ": no such result");
            continue;
        }
        const record& r = *it->second;
        class_summary& s = summary[mine.cls];
        if (r.cls == result_class::search && mine.cls == result_class::search && m == mode::x87) {
            // Another path through the search may give groups of other sizes; only the kind and
            // the size of the result must agree.
            if (outer_shape(r.shape) != outer_shape(mine.shape)) fail(mine.key + ": different kind or size");
            ++s.records;
            continue;
        }
        if (r.cls != mine.cls || r.shape != mine.shape || r.values.size() != mine.values.size()) {
            fail(mine.key + ": different shape, pattern or message");
            continue;
        }
        ++s.records;
        std::size_t bad = 0;
        for (std::size_t i = 0; i < mine.values.size(); ++i) {
            const double a = mine.values[i], b = r.values[i];
            ++s.values;
            if (same_value(a, b)) ++s.identical;
            else s.max_ulps = std::max(s.max_ulps, ulps_between(a, b));
            if (std::isfinite(a) && std::isfinite(b)) s.max_difference = std::max(s.max_difference, std::fabs(a - b));
            if (!close_enough(a, b, mine.cls, m)) {
                if (bad++ == 0)
                    report << "  DISAGREE " << mine.key << " value " << i << ": " << value_token(a) << " vs "
                           << value_token(b) << " (" << ulps_between(a, b) << " ulps)\n";
                ok = false;
            }
        }
        if (bad > 1) report << "  ... " << bad << " values of " << mine.key << " disagree\n";
    }
    for (const record& r : other.records)
        if (seen.count(r.key) == 0) fail(r.key + ": not in " + reference.platform);

    for (const auto& [cls, s] : summary)
        report << "  " << class_name(cls) << ": " << s.records << " results, " << s.values << " values, "
               << s.identical << " identical, largest difference " << s.max_ulps << " ulps or "
               << s.max_difference << "\n";
    return ok;
}

}  // namespace agreement
