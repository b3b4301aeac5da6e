// The adjusted Rand index on hand-computed cases, and pictures that are well-formed XML.
#include "rotalign/groups/scores.h"
#include "rotalign/output/svg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

TEST(adjusted_rand_index, renaming_groups_changes_nothing) {
    EXPECT_DOUBLE_EQ(rotalign::adjusted_rand_index({1, 1, 2, 2, 3}, {7, 7, 0, 0, -4}), 1.0);
    // Trivial partitions that agree.
    EXPECT_DOUBLE_EQ(rotalign::adjusted_rand_index({1, 1, 1}, {2, 2, 2}), 1.0);
    EXPECT_DOUBLE_EQ(rotalign::adjusted_rand_index({1, 2, 3}, {3, 1, 2}), 1.0);
}

TEST(adjusted_rand_index, known_values) {
    // Pairs together in both: 2; expected 6 * 3 / 15 = 1.2; bound (6 + 3) / 2 = 4.5.
    EXPECT_NEAR(rotalign::adjusted_rand_index({0, 0, 0, 1, 1, 1}, {0, 0, 1, 1, 2, 2}), 0.8 / 3.3, 1e-15);
    // Worse than chance is negative.
    EXPECT_LT(rotalign::adjusted_rand_index({1, 1, 2, 2}, {1, 2, 1, 2}), 0.0);
    EXPECT_THROW(rotalign::adjusted_rand_index({1, 2}, {1}), std::invalid_argument);
}

namespace {

// A small well-formedness check: every tag closes in order, attribute values are quoted,
// and '&' only starts one of the five predefined entities.
::testing::AssertionResult well_formed(const std::string& xml) {
    std::vector<std::string> open;
    std::size_t i = 0;
    if (xml.rfind("<?xml ", 0) != 0) return ::testing::AssertionFailure() << "no XML declaration";
    i = xml.find("?>") + 2;
    while (i < xml.size()) {
        if (xml[i] == '&') {
            bool known = false;
            for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
                known = known || xml.compare(i, std::strlen(e), e) == 0;
            if (!known) return ::testing::AssertionFailure() << "bare & at " << i;
            ++i;
            continue;
        }
        if (xml[i] != '<') {
            if (xml[i] == '>') return ::testing::AssertionFailure() << "bare > at " << i;
            ++i;
            continue;
        }
        const std::size_t end = xml.find('>', i);
        if (end == std::string::npos) return ::testing::AssertionFailure() << "unclosed tag at " << i;
        std::string tag = xml.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) return ::testing::AssertionFailure() << "</" << tag;
            open.pop_back();
            continue;
        }
        const bool empty = tag.back() == '/';
        if (empty) tag.pop_back();
        const std::string name = tag.substr(0, tag.find(' '));
        // Attributes: name="value" pairs separated by spaces.
        std::size_t quotes = 0;
        for (char ch : tag) quotes += ch == '"';
        if (quotes % 2 != 0 || tag.find('<') != std::string::npos)
            return ::testing::AssertionFailure() << "bad attributes in <" << tag;
        if (!empty) open.push_back(name);
    }
    if (!open.empty()) return ::testing::AssertionFailure() << "<" << open.back() << "> never closes";
    return ::testing::AssertionSuccess();
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(write_svg, picture_is_well_formed_with_one_dot_per_point) {
    const rotalign::points p{4, 3, {0, 0, 9, 1, 2, 9, -1, 5, 9, 3, -2, 9}};
    std::ostringstream out;
    rotalign::write_svg(out, p, {1, 2, 0, 12}, "a <title> & \"quotes\"\x01");
    const std::string svg = out.str();
    EXPECT_TRUE(well_formed(svg)) << svg;
    EXPECT_EQ(count_of(svg, "<circle "), 4u);
    EXPECT_EQ(count_of(svg, "a &lt;title&gt; &amp; &quot;quotes&quot;</text>"), 1u);
    EXPECT_EQ(count_of(svg, "fill=\"#999999\""), 1u);  // the point in no group
    EXPECT_EQ(count_of(svg, "fill=\"#d62728\""), 2u);  // group 2, and group 12 wraps round to it
}

TEST(write_svg, degenerate_inputs) {
    std::ostringstream out;
    rotalign::write_svg(out, rotalign::points{1, 2, {3, 3}}, {1}, "one");
    EXPECT_TRUE(well_formed(out.str()));
    EXPECT_EQ(out.str().find("nan"), std::string::npos);
    EXPECT_THROW(rotalign::write_svg(out, rotalign::points{2, 1, {1, 2}}, {1, 1}, ""), rotalign::input_error);
    EXPECT_THROW(rotalign::write_svg(out, rotalign::points{2, 2, {1, 2, 3, 4}}, {1}, ""), rotalign::input_error);
}

TEST(write_choice_svg, marks_the_choice_and_the_candidates) {
    // c = 2 inside a block of two eigenvalues 1 (open, and its quality not a number), c = 3 a
    // candidate, c = 4 the largest.
    const std::vector<double> values{1.0, 1.0, 1.0 - 1e-12, 0.6, 0.55};
    std::ostringstream out;
    rotalign::write_choice_svg(out, values, {std::nan(""), 0.999, 0.97}, 3, {}, "blobs & <c>");
    const std::string svg = out.str();
    EXPECT_TRUE(well_formed(svg)) << svg;
    EXPECT_EQ(count_of(svg, ">chosen: 3</text>"), 1u);
    EXPECT_EQ(count_of(svg, "blobs &amp; &lt;c&gt;"), 1u);
    EXPECT_EQ(count_of(svg, "r=\"3\" fill=\"#1f77b4\""), 5u);  // one dot per eigenvalue
    EXPECT_EQ(count_of(svg, "fill=\"#2ca02c\"/>"), 2u);          // candidates 3 and 4
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    // Nothing chosen, nothing searched: still a picture.
    std::ostringstream empty;
    rotalign::write_choice_svg(empty, {1.0}, {}, 0, {}, "");
    EXPECT_TRUE(well_formed(empty.str()));
    EXPECT_EQ(count_of(empty.str(), "chosen"), 0u);
}
