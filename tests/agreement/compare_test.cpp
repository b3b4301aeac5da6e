// The record format and the rules by which the agreement check compares builds.
#include "compare.h"

#include "plugins.h"

#include <cmath>
#include <limits>
#include <sstream>

using namespace agreement;

namespace {

double next_up(double v) { return std::nextafter(v, std::numeric_limits<double>::infinity()); }

dump read(const std::string& text) {
    std::istringstream in(text);
    dump d;
    std::string error;
    EXPECT_TRUE(read_dump(in, &d, &error)) << error;
    return d;
}

std::string line(const std::string& key, const char* cls, const std::vector<double>& values,
                 const std::string& shape = "dense 2 1 2") {
    std::string text = key + " " + cls + " " + shape;
    for (double v : values) text += " " + value_token(v);
    return text + "\n";
}

bool agree(const std::string& a, const std::string& b, mode m) {
    std::ostringstream report;
    return compare(read(a), read(b), m, report);
}

}  // namespace

TEST(agreement_records, ulps_count_the_doubles_between_and_across_zero) {
    EXPECT_EQ(ulps_between(1.0, next_up(1.0)), 1u);
    EXPECT_EQ(ulps_between(next_up(1.0), 1.0), 1u);
    EXPECT_EQ(ulps_between(-1.0, -next_up(1.0)), 1u);
    const double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(ulps_between(-tiny, tiny), 2u);
    EXPECT_EQ(ulps_between(0.0, -0.0), 0u);
    EXPECT_EQ(ulps_between(std::nan(""), -std::nan("")), 0u);
    EXPECT_EQ(ulps_between(std::nan(""), 1.0), UINT64_MAX);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_GT(ulps_between(-inf, inf), 0u);
}

TEST(agreement_records, arrays_round_trip_with_their_pattern_and_exact_bits) {
    // A cell holding a sparse matrix with an empty column and a dense row with -0 and NaN.
    mexhost::array_ptr cell(mxCreateCellMatrix(1, 2));
    mxSetCell(cell.get(), 0, mexhost::make_sparse(3, 3, {0, 2, 2, 3}, {0, 2, 1}, {1.5, -2.0, 0.0}).release());
    mxSetCell(cell.get(), 1, mexhost::make_matrix(1, 2, {-0.0, std::nan("")}).release());
    std::string tokens;
    append_tokens(cell.get(), tokens);
    record r;
    ASSERT_TRUE(parse_record("case 1 exact" + tokens, &r));
    EXPECT_EQ(r.key, "case 1");
    EXPECT_EQ(r.shape, (std::vector<std::string>{"cell", "2", "1", "2", "sparse", "2", "3", "3", "0", "2", "2", "3",
                                                 "0", "2", "1", "dense", "2", "1", "2"}));
    ASSERT_EQ(r.values.size(), 5u);
    EXPECT_TRUE(toolbox_test::same_bits({r.values[0], r.values[1], r.values[2], r.values[3]}, {1.5, -2.0, 0.0, -0.0}));
    EXPECT_TRUE(std::isnan(r.values[4]));
    EXPECT_FALSE(parse_record("case 1 roughly 0x3ff0000000000000", &r));
    EXPECT_FALSE(parse_record("case 1 exact 0x3ff00000000000zz", &r));
}

TEST(agreement_records, builds_of_the_same_arithmetic_match_every_bit_but_the_last_of_exp) {
    const std::string head = "# platform .mexa64\n# plugin pellor\n";
    const std::string other = "# platform .mexw64\n# plugin pellor\n";
    auto same = [&](const char* cls, double a, double b) {
        return agree(head + line("pellor/a 1", cls, {1.0, a}), other + line("pellor/a 1", cls, {1.0, b}), mode::same);
    };
    EXPECT_TRUE(same("formula", std::nan(""), -std::nan("")));
    EXPECT_FALSE(same("formula", 2.0, next_up(2.0)));
    EXPECT_FALSE(same("search", 2.0, next_up(2.0)));
    EXPECT_TRUE(same("affinity", 0.5, next_up(0.5)));
    EXPECT_FALSE(same("affinity", 0.5, next_up(next_up(0.5))));
}

TEST(agreement_records, x87_builds_may_differ_by_class) {
    const std::string head = "# platform .mexa64\n# plugin tarvik\n";
    const std::string other = "# platform .mexglx\n# plugin tarvik\n";
    auto x87 = [&](const char* cls, double a, double b, const std::string& shape_a = "dense 2 1 1",
                   const std::string& shape_b = "dense 2 1 1") {
        return agree(head + line("tarvik/a 1", cls, {a}, shape_a), other + line("tarvik/a 1", cls, {b}, shape_b), mode::x87);
    };
    auto up = [](double v, int steps) {
        for (int i = 0; i < steps; ++i) v = next_up(v);
        return v;
    };
    EXPECT_TRUE(x87("formula", 2.0, up(2.0, 2)));
    EXPECT_FALSE(x87("formula", 2.0, up(2.0, 3)));
    EXPECT_FALSE(x87("exact", 2.0, next_up(2.0)));
    // exp(-7.25) may be 2 + 14 units off, exp(-0.5) only 2 + 1.
    EXPECT_TRUE(x87("affinity", std::exp(-7.25), up(std::exp(-7.25), 16)));
    EXPECT_FALSE(x87("affinity", std::exp(-7.25), up(std::exp(-7.25), 17)));
    EXPECT_FALSE(x87("affinity", std::exp(-0.5), up(std::exp(-0.5), 4)));
    EXPECT_FALSE(x87("affinity", 0.25, std::nan("")));
    // Near zero a worked example is judged by its absolute difference.
    EXPECT_TRUE(x87("worked", 1e-17, -3e-17));
    EXPECT_FALSE(x87("worked", 0.5, 0.5 + 1e-9));
    // A search that took another path may give groups of other sizes, but not another count.
    EXPECT_TRUE(x87("search", 1.0, 2.0, "cell 2 1 2 dense 2 1 1 dense 2 1 0", "cell 2 1 2 dense 2 1 0 dense 2 1 1"));
    EXPECT_FALSE(x87("search", 1.0, 1.0, "cell 2 1 2 dense 2 1 1 dense 2 1 0", "cell 2 1 3 dense 2 1 1 dense 2 1 0 dense 2 1 0"));
}

TEST(agreement_records, a_result_or_plugin_missing_on_the_other_build_is_a_disagreement) {
    const std::string reference = "# platform .mexa64\n# plugin pellor\n# plugin olvane\n" +
                                  line("pellor/a 1", "exact", {1.0}) + line("pellor/b 1", "exact", {1.0}) +
                                  line("olvane/a 1", "exact", {1.0});
    // olvane is not shipped for Windows x86, so its absence there is expected.
    EXPECT_TRUE(agree(reference, "# platform .mexw32\n# plugin pellor\n" + line("pellor/a 1", "exact", {1.0}) +
                                     line("pellor/b 1", "exact", {1.0}), mode::x87));
    EXPECT_FALSE(agree(reference, "# platform .mexw64\n# plugin pellor\n" + line("pellor/a 1", "exact", {1.0}) +
                                      line("pellor/b 1", "exact", {1.0}), mode::same));
    EXPECT_FALSE(agree(reference, "# platform .mexw32\n# plugin pellor\n" + line("pellor/a 1", "exact", {1.0}), mode::x87));
    EXPECT_FALSE(agree(reference, "# platform .mexw32\n# plugin pellor\n" + line("pellor/a 1", "exact", {1.0}) +
                                      line("pellor/b 1", "exact", {1.0}) + line("pellor/c 1", "exact", {1.0}), mode::x87));
}
