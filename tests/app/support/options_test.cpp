// The option table: what it accepts, that each of its options reaches the field that the chain's
// checks read, and the errors that carry remedies for the front ends to spell.
#include "rotalign/chain.h"
#include "rotalign/support/errors.h"
#include "rotalign/support/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

using rotalign::option_description;
using rotalign::option_kind;
using rotalign::option_vocabulary;

TEST(option_table, names_are_unique_and_every_option_is_checked_through_its_own_field) {
    std::set<std::string> names, flags, parameters;
    for (const option_description& d : rotalign::chain_options()) {
        EXPECT_TRUE(names.insert(d.name).second) << d.name;
        EXPECT_TRUE(flags.insert(d.flag).second) << d.flag;
        EXPECT_TRUE(parameters.insert(d.parameter).second) << d.parameter;
        EXPECT_EQ(&rotalign::option_named(d.name), &d);
        if (!d.default_text.empty()) {
            EXPECT_NO_THROW(rotalign::read_option(d, d.default_text, option_vocabulary::library)) << d.name;
        }
        if (d.kind == option_kind::word || d.kind == option_kind::flag) continue;
        // A number just outside the range, set through the table's name, is refused by the chain's
        // checks under that same name: set_option and check_options agree on the field.
        rotalign::cluster_options o;
        if (d.name == "scale") {
            o.affinity = rotalign::affinity_kind::global;
            o.scale = 1.0;
        }
        if (d.name == "fixed_groups") o.fixed_groups = 3;
        EXPECT_NO_THROW(rotalign::check_options(o, 100)) << d.name;
        rotalign::option_value outside;
        outside.number = d.least_excluded ? d.least : d.least - 1;
        rotalign::set_option(o, d.name, outside);
        if (d.name == "graph_neighbours" || d.name == "rotation_sample" || d.name == "min_group_size")
            continue;  // 0 there means automatic
        try {
            rotalign::check_options(o, 100);
            ADD_FAILURE() << d.name << " outside its range passed";
        } catch (const rotalign::option_error& e) {
            EXPECT_EQ(e.option(), d.name);
            EXPECT_EQ(e.needed(), rotalign::requirement(d, option_vocabulary::library));
            EXPECT_EQ(std::string(e.what()), d.noun + " must be " + e.needed());
        }
    }
    EXPECT_THROW(rotalign::option_named("no such option"), std::out_of_range);
}

TEST(option_table, words_follow_the_order_of_their_enums) {
    const auto set = [](const std::string& name, const std::string& word, option_vocabulary vocabulary) {
        rotalign::cluster_options o;
        rotalign::set_option(o, name, rotalign::read_option(rotalign::option_named(name), word, vocabulary));
        return o;
    };
    EXPECT_EQ(set("affinity", "olvane", option_vocabulary::program).affinity, rotalign::affinity_kind::local_mean);
    EXPECT_EQ(set("affinity", "global", option_vocabulary::library).affinity, rotalign::affinity_kind::global);
    EXPECT_EQ(set("graph", "knn", option_vocabulary::program).graph, rotalign::graph_kind::knn);
    EXPECT_EQ(set("neighbour_search", "blas", option_vocabulary::library).search, rotalign::neighbour_backend::blas);
    EXPECT_EQ(set("neighbour_search", "hnsw", option_vocabulary::library).search, rotalign::neighbour_backend::hnsw);
    EXPECT_EQ(set("solver", "dense", option_vocabulary::library).solver, rotalign::eigen_solver::dense);
    EXPECT_TRUE(set("search", "numerical", option_vocabulary::library).numerical_search);
    EXPECT_TRUE(set("standardise", "true", option_vocabulary::library).standardise);
    EXPECT_FALSE(set("standardise", "false", option_vocabulary::library).standardise);
    EXPECT_THROW(set("standardise", "yes", option_vocabulary::library), rotalign::option_error);
    EXPECT_EQ(rotalign::name_of(rotalign::graph_kind::dense), "dense");
    EXPECT_EQ(rotalign::name_of(rotalign::neighbour_backend::kd_tree), "kd-tree");
    // Each vocabulary takes its own words only.
    EXPECT_THROW(set("affinity", "local", option_vocabulary::program), rotalign::option_error);
    EXPECT_THROW(set("affinity", "brenmoss", option_vocabulary::library), rotalign::option_error);
}

TEST(option_table, read_option_takes_exactly_the_numbers_in_range) {
    // Random texts over the characters of numbers: every text is either refused with an
    // option_error that names the option and the text, or read as a value inside the range that
    // the text spells exactly.
    std::mt19937 random(7);
    const std::string alphabet = "0123456789-+.eExinfa ";
    for (const option_description& d : rotalign::chain_options()) {
        if (d.kind == option_kind::word || d.kind == option_kind::flag) continue;
        for (int trial = 0; trial < 4000; ++trial) {
            std::string text;
            const int length = static_cast<int>(random() % 12);
            for (int k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
            if (trial % 4 == 0) text = std::to_string(static_cast<long long>(random() % 40) - 20);
            try {
                const rotalign::option_value v = rotalign::read_option(d, text, option_vocabulary::program);
                EXPECT_TRUE(rotalign::in_range(d, v.number)) << d.name << " '" << text << "'";
                if (d.kind == option_kind::whole) {
                    EXPECT_EQ(v.number, std::floor(v.number));
                    EXPECT_EQ(v.number, static_cast<double>(std::strtoll(text.c_str(), nullptr, 10))) << text;
                } else {
                    EXPECT_EQ(v.number, std::strtod(text.c_str(), nullptr)) << text;
                }
            } catch (const rotalign::option_error& e) {
                EXPECT_EQ(e.option(), d.name);
                EXPECT_EQ(e.given(), text);
            }
        }
    }
    const option_description& groups = rotalign::option_named("max_groups");
    EXPECT_THROW(rotalign::read_option(groups, "99999999999999999999", option_vocabulary::program),
                 rotalign::option_error);
    EXPECT_THROW(rotalign::read_option(groups, "2147483648", option_vocabulary::program), rotalign::option_error);
    EXPECT_EQ(rotalign::read_option(groups, "2147483647", option_vocabulary::program).number, 2147483647.0);
    EXPECT_THROW(rotalign::read_option(rotalign::option_named("tolerance"), "nan", option_vocabulary::program),
                 rotalign::option_error);
    EXPECT_THROW(rotalign::read_option(rotalign::option_named("scale"), "inf", option_vocabulary::program),
                 rotalign::option_error);
}

TEST(input_error, remedies_are_spelled_by_the_front_end_only) {
    const rotalign::input_error e("3 pieces, 2 groups tried",
                                  {{"allow 3 or more groups", "max_groups", "3"}, {"use larger scales", "neighbours", ""}});
    EXPECT_EQ(e.fact(), "3 pieces, 2 groups tried");
    EXPECT_EQ(std::string(e.what()), "3 pieces, 2 groups tried: allow 3 or more groups, or use larger scales");
    const auto spell = [](const rotalign::remedy& r) { return r.value.empty() ? "" : r.option + "=" + r.value; };
    EXPECT_EQ(rotalign::worded(e, spell),
              "3 pieces, 2 groups tried: allow 3 or more groups (max_groups=3), or use larger scales");
    EXPECT_EQ(rotalign::worded(rotalign::input_error("plain"), spell), "plain");
}
