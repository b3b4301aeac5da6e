// The program itself, run as a user runs it: exit statuses, outputs and messages.
#include "rotalign/datasets/datasets.h"
#include "rotalign/neighbours/neighbours.h"
#include "rotalign/support/options.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class program : public ::testing::Test {
protected:
    void SetUp() override {
        // One folder per test and process, so that runs side by side do not share files.
        dir_ = fs::path(::testing::TempDir()) /
               ("rotalign_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name) << text;
        return dir_ / name;
    }

    // Runs rotalign in the test's folder; `env` is put before the command (VAR=value ...), and
    // `to` says where standard output goes.
    outcome run(const std::string& args, const std::string& env = "", const std::string& to = ">out.txt") const {
        fs::remove(dir_ / "out.txt");
        const std::string command = "cd '" + dir_.string() + "' && " + env + " '" + ROTALIGN_PROGRAM + "' " + args +
                                    " " + to + " 2>err.txt";
        outcome o;
        const int raw = std::system(command.c_str());
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        o.out = slurp(dir_ / "out.txt");
        o.err = slurp(dir_ / "err.txt");
        return o;
    }

    std::string moons(std::size_t count) const {
        const rotalign::labelled_points m = rotalign::two_moons(count, 21);
        std::ostringstream s;
        s << "x,y\n";
        s.precision(17);
        for (std::size_t i = 0; i < m.data.count; ++i) s << m.data.at(i, 0) << ',' << m.data.at(i, 1) << '\n';
        return s.str();
    }

    fs::path dir_;
};

std::size_t lines_of(const std::string& text) {
    std::size_t n = 0;
    for (char ch : text) n += ch == '\n';
    return n;
}

}  // namespace

TEST_F(program, cluster_prints_groups_then_the_summary) {
    file("m.csv", moons(120));
    const outcome o = run("cluster m.csv --max-groups 4 --graph dense --plot m.svg");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(lines_of(o.out), 120u);
    EXPECT_EQ(o.out.substr(0, 2), "1\n");  // points alternate between the moons
    EXPECT_EQ(o.out.substr(2, 2), "2\n");
    EXPECT_EQ(o.err.rfind("groups: 2\nquality: 2=", 0), 0u) << o.err;
    EXPECT_NE(o.err.find(" 4="), std::string::npos);
    // One eigenvalue more than the largest number of groups, and the cuts that decided.
    EXPECT_NE(o.err.find("\neigenvalues: 1=1.0000000000 2="), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(" 5="), std::string::npos);
    EXPECT_NE(o.err.find("\nclear cuts (c=how many times farther from 1 eigenvalue c+1 lies than c; * strong): 2="),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("stage times (ms): distances "), std::string::npos);
    // How sure the choice is, and the points left out of every group.
    EXPECT_NE(o.err.find("\nrunner-up: "), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("\npoints in no group: 0 (pieces of the graph and groups of fewer than 2 points"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(slurp(dir_ / "m.svg").rfind("<?xml", 0), 0u);
}

TEST_F(program, columns_of_far_apart_spreads_are_named_in_a_warning_until_standardised) {
    // The moons with x in other units, and a constant third column that adds nothing.
    const rotalign::labelled_points m = rotalign::two_moons(120, 21);
    std::ostringstream wide, narrow;
    wide.precision(17);
    narrow.precision(17);
    for (std::size_t i = 0; i < m.data.count; ++i) {
        wide << m.data.at(i, 0) * 1000.0 << ',' << m.data.at(i, 1) << ",5\n";
        narrow << m.data.at(i, 0) * 50.0 << ',' << m.data.at(i, 1) << ",5\n";
    }
    file("wide.csv", wide.str());
    file("narrow.csv", narrow.str());
    const std::string warning =
        "warning: the columns' spreads differ 1844 times (column 1: 875.4, column 2: 0.4747), so the widest "
        "columns rule the distances; if the columns are in different units, --standardise gives each one unit "
        "spread\n";
    const outcome raw = run("cluster wide.csv --max-groups 4");
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(raw.err.rfind(warning + "groups: ", 0), 0u) << raw.err;
    const outcome to_file = run("cluster wide.csv --max-groups 4 --output g.txt");
    EXPECT_EQ(to_file.out.rfind(warning, 0), 0u) << to_file.out;

    // Standardised, or with spreads 92 times apart, there is nothing to warn of; standardised,
    // both files give the same groups, whatever the units of x.
    for (const char* args : {"cluster wide.csv --max-groups 4 --standardise --output wide.txt",
                             "cluster narrow.csv --max-groups 4 --standardise --output narrow.txt",
                             "cluster narrow.csv --max-groups 4"}) {
        const outcome o = run(args);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.find("warning"), std::string::npos) << args << '\n' << o.out;
        EXPECT_EQ(o.err.find("warning"), std::string::npos) << args << '\n' << o.err;
    }
    EXPECT_EQ(slurp(dir_ / "wide.txt"), slurp(dir_ / "narrow.txt"));
}

TEST_F(program, csv_output_to_a_file_moves_the_summary_to_standard_output) {
    file("m.csv", moons(60));
    const outcome o = run("cluster m.csv --max-groups 3 --groups 3 --format csv --output g.csv");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out.rfind("groups: 3 (fixed)\n", 0), 0u) << o.out;
    const std::string g = slurp(dir_ / "g.csv");
    EXPECT_EQ(g.rfind("point,group\n1,", 0), 0u);
    EXPECT_EQ(lines_of(g), 61u);
    EXPECT_EQ(run("cluster m.csv --quiet --max-groups 3 --output g.csv").out, "");
}

TEST_F(program, the_choice_is_drawn_and_explained) {
    // Ten identical points: one group, a note, and a picture with the choice marked.
    std::string same = "x,y\n";
    for (int i = 0; i < 10; ++i) same += "1.5,2\n";
    file("same.csv", same);
    const outcome o = run("cluster same.csv --max-groups 3 --neighbours 3 --plot-quality q.svg");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "1\n1\n1\n1\n1\n1\n1\n1\n1\n1\n");
    EXPECT_EQ(o.err.rfind("groups: 1\nnote: eigenvalues 2 to 4 are one repeated block", 0), 0u) << o.err;
    EXPECT_NE(o.err.find("quality: 2=- 3="), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("* strong): none\n"), std::string::npos) << o.err;
    const std::string svg = slurp(dir_ / "q.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find(">chosen: 1</text>"), std::string::npos);

    // More components than groups tried: the message says how many and what to change.
    const outcome apart = run("generate duplicates-16 --truth t.txt");
    ASSERT_EQ(apart.status, 0) << apart.err;
    file("d.csv", apart.out);
    const outcome d = run("cluster d.csv");
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.err,
              "rotalign: the affinity graph falls apart into 16 components, more than the 10 groups tried: allow 16 or "
              "more groups (--max-groups 16), or use a larger neighbour count\n");
    const outcome enough = run("cluster d.csv --max-groups 16 --output g.txt");
    ASSERT_EQ(enough.status, 0) << enough.err;
    EXPECT_EQ(enough.out.rfind("groups: 16\n", 0), 0u) << enough.out;
    EXPECT_NE(enough.out.find("\nno count stands clear: 16 groups, the most tried, may not be all there are; try more "
                              "(--max-groups 32)\n"),
              std::string::npos)
        << enough.out;

    // Candidate graphs that disagree (2, 6, 3, 3 and 5 groups on two spirals): the count taken
    // does not stand clear, and the summary names the count most of the others give.
    file("s.csv", run("generate spirals-2 --seed 101").out);
    const outcome spirals = run("cluster s.csv --output g.txt");
    ASSERT_EQ(spirals.status, 0) << spirals.err;
    EXPECT_NE(spirals.out.find("no count stands clear: only 2 of the 5 candidate graphs give 3 groups (the others "
                               "give 2, 6 and 5); look at 2 as well (--groups 2)\n"),
              std::string::npos)
        << spirals.out;
}

TEST_F(program, generate_lists_and_writes_the_suite) {
    const outcome list = run("generate --list");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out.rfind("name\tpoints\tdims\tgroups\tmax_groups\tdescription\n", 0), 0u);
    EXPECT_NE(list.out.find("\noctahedron-7\t212\t3\t7\t10\t"), std::string::npos) << list.out;
    const outcome three = run("generate octahedron-7 --truth t.txt");
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(three.out.rfind("x1,x2,x3\n", 0), 0u);
    EXPECT_EQ(lines_of(three.out), 213u);
    EXPECT_EQ(lines_of(slurp(dir_ / "t.txt")), 212u);
    EXPECT_NE(run("generate octahedron-7 --seed 3").out, three.out);
    EXPECT_EQ(run("generate octahedron-7 --points 5").status, 2);
    const outcome unknown = run("generate nothing");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err,
              "rotalign: unknown data set 'nothing': moons, circles, blobs, lines, or a name that 'rotalign generate "
              "--list' shows\n");
}

TEST_F(program, bad_input_gives_a_message_and_status_1) {
    file("ragged.csv", "x,y\n1,2\n3,4\n5\n");
    file("word.csv", "1,2\n3,four\n");
    file("nan.csv", "1,2\nNaN,4\n");
    file("few.csv", "1,2\n3,4\n5,6\n");
    file("rect.csv", "0,1,2\n1,0,3\n");
    const struct {
        std::string args, message;
    } cases[] = {
        {"cluster missing.csv", "rotalign: cannot read missing.csv: No such file or directory\n"},
        {"cluster ragged.csv", "rotalign: ragged.csv, line 4: expected 2 values as in the first row, found 1\n"},
        {"cluster word.csv", "rotalign: word.csv, line 2: value 2 ('four') is not a number\n"},
        {"cluster nan.csv", "rotalign: nan.csv, line 2: coordinate 1 ('NaN') is not finite\n"},
        {"cluster few.csv", "rotalign: 3 points are too few for 7 neighbours: at least 8 are needed\n"},
        {"cluster rect.csv --distances", "rotalign: rect.csv: distance matrix is not square: 2 rows of 3 values\n"},
    };
    for (const auto& c : cases) {
        const outcome o = run(c.args);
        EXPECT_EQ(o.status, 1) << c.args;
        EXPECT_EQ(o.err, c.message);
        EXPECT_EQ(o.out, "");
    }
}

TEST_F(program, usage_mistakes_give_status_2_before_any_file_is_read) {
    file("m.csv", moons(40));
    // Against a file that does not exist: status 2, not the missing file's 1, shows that the
    // command line is checked before anything is read.
    for (const char* args :
         {"", "frobnicate", "cluster", "cluster missing.csv --neighbours", "cluster missing.csv --neighbours x",
          "cluster missing.csv --neighbours 0", "cluster missing.csv --neighbours 1.5",
          "cluster missing.csv --max-groups 1", "cluster missing.csv --tolerance -1",
          "cluster missing.csv --affinity pellor --scale 0", "cluster missing.csv --output ''",
          "cluster missing.csv --affinity pellor", "cluster missing.csv --wat", "cluster missing.csv --groups 1",
          "cluster missing.csv other.csv", "cluster missing.csv --graph sparse", "cluster missing.csv --format xml",
          "generate moons --points 0", "generate moons --seed -1", "generate --list moons", "demo --solver x"}) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_EQ(o.err.rfind("rotalign: ", 0), 0u) << args;
        EXPECT_NE(o.err.find("\n\nusage: rotalign cluster"), std::string::npos) << args << o.err;
        EXPECT_EQ(o.out, "") << args;
    }
    // The range comes from the option table, in the command line's words.
    EXPECT_EQ(run("cluster m.csv --max-groups 1").err.substr(0, 63),
              "rotalign: --max-groups needs a whole number of at least 2, not ");
    EXPECT_EQ(run("cluster m.csv --affinity local").err.substr(0, 73),
              "rotalign: --affinity needs one of brenmoss, olvane or pellor, not 'local'");
    // The last of a repeated option counts, and --x=VALUE is --x VALUE.
    EXPECT_EQ(run("cluster m.csv --quiet --neighbours 0 --neighbours=5").status, 0);
}

TEST_F(program, every_command_has_help_with_the_table_defaults) {
    for (const char* args : {"--help", "-h", "help", "cluster --help", "demo --help", "generate --help"}) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 0) << args << o.err;
        EXPECT_EQ(o.err, "") << args;
        EXPECT_NE(o.out.find("Usage: rotalign"), std::string::npos) << args << o.out;
    }
    const std::string cluster = run("cluster --help").out;
    for (const rotalign::option_description& d : rotalign::chain_options()) {
        EXPECT_NE(cluster.find("--" + d.flag + " "), std::string::npos) << d.flag;
        const bool numeric = d.kind == rotalign::option_kind::whole || d.kind == rotalign::option_kind::real;
        if (!d.default_text.empty() && numeric) {
            EXPECT_NE(cluster.find("(default " + d.default_text + ")"), std::string::npos) << d.flag;
        }
    }
    EXPECT_NE(cluster.find("(7, 10, 15, 20 or 30)"), std::string::npos) << cluster;
    EXPECT_NE(cluster.find("(default brenmoss)"), std::string::npos) << cluster;
}

// The cells of a Markdown table row, trimmed.
std::vector<std::string> cells_of(const std::string& row) {
    std::vector<std::string> cells;
    std::istringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
        const auto first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    return cells;
}

TEST(program_docs, option_defaults_in_the_docs_are_the_tables) {
    // The rows of the user docs' option tables: "| `--flag X` | meaning | default |" for the
    // program, "| `parameter`... | `--flag`... | default |" for Python.
    std::map<std::string, std::vector<std::string>> program_rows, python_rows;
    std::vector<fs::path> pages{fs::path(ROTALIGN_SOURCE_DIR) / "README.md"};
    if (fs::is_directory(fs::path(ROTALIGN_SOURCE_DIR) / "docs"))
        for (const auto& entry : fs::directory_iterator(fs::path(ROTALIGN_SOURCE_DIR) / "docs"))
            if (entry.path().extension() == ".md") pages.push_back(entry.path());
    for (const fs::path& page : pages) {
        std::istringstream in(slurp(page));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("| `", 0) != 0) continue;
            const std::vector<std::string> cells = cells_of(line);
            const std::string name = cells[0].substr(1, cells[0].find('`', 1) - 1);
            if (name.rfind("--", 0) == 0) program_rows[name.substr(2, name.find(' ') - 2)] = cells;
            else python_rows[name] = cells;
        }
    }
    for (const rotalign::option_description& d : rotalign::chain_options()) {
        ASSERT_EQ(program_rows.count(d.flag), 1u) << "--" << d.flag << " is not in the program's docs";
        ASSERT_EQ(python_rows.count(d.parameter), 1u) << d.parameter << " is not in the Python docs";
        const std::vector<std::string>& python = python_rows[d.parameter];
        EXPECT_EQ(python[1].rfind("`--" + d.flag, 0), 0u) << d.parameter << ": " << python[1];
        if (d.default_text.empty()) {
            EXPECT_EQ(python.back().rfind("`None`", 0), 0u) << d.parameter;
            continue;
        }
        // A flag's default is its absence on the command line, and a bool in Python.
        if (d.kind == rotalign::option_kind::flag) {
            EXPECT_EQ(python.back().rfind(d.default_text == "true" ? "`True`" : "`False`", 0), 0u) << d.parameter;
            continue;
        }
        const std::string shown = rotalign::spelled_in(d, d.default_text, rotalign::option_vocabulary::program);
        std::string cell = program_rows[d.flag].back();
        cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
        EXPECT_EQ(cell, shown) << "--" << d.flag;
        const std::string in_python = d.kind == rotalign::option_kind::word ? "`\"" + d.default_text + "\"`" : d.default_text;
        EXPECT_EQ(python.back().rfind(in_python, 0), 0u) << d.parameter << ": " << python.back();
    }
}

TEST_F(program, results_that_cannot_be_written_fail) {
    file("m.csv", moons(40));
    // A full device or a closed standard output loses the results: status 1 with a message.
    for (const char* to : {">/dev/full", ">&-"}) {
        for (const char* args : {"cluster m.csv --quiet --max-groups 3", "generate moons", "generate --list",
                                 "cluster m.csv --max-groups 3 --output g.txt"}) {
            const outcome o = run(args, "", to);
            EXPECT_EQ(o.status, 1) << args << ' ' << to;
            EXPECT_EQ(o.err.rfind("rotalign: cannot write ", 0), 0u) << args << ' ' << to << o.err;
        }
    }
    // An output that is an input, or another output, is refused before any work.
    const std::string before = slurp(dir_ / "m.csv");
    for (const char* args : {"cluster m.csv --output m.csv", "cluster m.csv --plot ./m.csv",
                             "cluster m.csv --output g.txt --plot-quality g.txt"}) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_NE(o.err.find(" is the same file as "), std::string::npos) << args << o.err;
        EXPECT_EQ(o.out, "") << args;
    }
    EXPECT_EQ(slurp(dir_ / "m.csv"), before);
    // An output that cannot be made fails before anything is written.
    const outcome truth = run("generate moons --truth missing/dir/t.csv");
    EXPECT_EQ(truth.status, 1);
    EXPECT_EQ(truth.err, "rotalign: cannot write missing/dir/t.csv: no folder missing/dir\n");
    EXPECT_EQ(truth.out, "");
    EXPECT_EQ(run("cluster m.csv --plot no/such.svg").status, 1);
    // More points than the machine holds are refused at once.
    const outcome huge = run("generate moons --points 2147483647");
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("2147483647 points need about "), std::string::npos) << huge.err;
    EXPECT_EQ(huge.out, "");
}

TEST_F(program, plugins_come_from_the_flag_or_the_environment) {
    file("m.csv", moons(40));
    fs::create_directories(dir_ / "empty");
    const outcome by_env = run("cluster m.csv --max-groups 2", "ROTALIGN_PLUGINS=empty");
    EXPECT_EQ(by_env.status, 1);
    EXPECT_EQ(by_env.err.rfind("rotalign: plug-in brenmoss not found: no empty/brenmoss.", 0), 0u) << by_env.err;
    const outcome by_flag = run("cluster m.csv --max-groups 2 --plugins '" TOOLBOX_PLUGIN_DIR "'", "ROTALIGN_PLUGINS=empty");
    EXPECT_EQ(by_flag.status, 0) << by_flag.err;
}

TEST_F(program, generate_and_cluster_distances) {
    // Generated points, then their distance matrix written by hand, give the same groups.
    const outcome g = run("generate blobs --points 30 --seed 5 --truth t.txt");
    ASSERT_EQ(g.status, 0) << g.err;
    std::istringstream in(g.out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "x,y");
    std::vector<double> xy;
    while (std::getline(in, line)) {
        const auto comma = line.find(',');
        xy.push_back(std::stod(line.substr(0, comma)));
        xy.push_back(std::stod(line.substr(comma + 1)));
    }
    ASSERT_EQ(xy.size(), 60u);
    std::ostringstream d;
    d.precision(17);
    for (std::size_t i = 0; i < 30; ++i)
        for (std::size_t j = 0; j < 30; ++j) {
            const double dx = xy[2 * i] - xy[2 * j], dy = xy[2 * i + 1] - xy[2 * j + 1];
            d << dx * dx + dy * dy << (j + 1 < 30 ? "," : "\n");
        }
    file("g.csv", g.out);
    file("d.csv", d.str());
    const outcome from_points = run("cluster g.csv --max-groups 4 --neighbours 3 --quiet");
    const outcome from_distances = run("cluster d.csv --distances --max-groups 4 --neighbours 3 --quiet");
    ASSERT_EQ(from_points.status, 0) << from_points.err;
    EXPECT_EQ(from_points.out, from_distances.out);
    EXPECT_EQ(lines_of(slurp(dir_ / "t.txt")), 30u);
}

TEST_F(program, demo_meets_its_goals_and_draws_every_set) {
    const outcome o = run("demo --output pictures");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    for (const char* name : {"moons", "circles", "blobs", "lines"})
        EXPECT_TRUE(fs::exists(dir_ / "pictures" / (std::string(name) + ".svg"))) << name;
    EXPECT_EQ(lines_of(o.out), 6u) << o.out;
}

// Warnings on standard error: before a search for more groups than the points support, and in
// the summary when the plug-ins' bound on the scale, not the data, set the affinities.
TEST_F(program, warns_of_needless_work_and_of_the_scale_bound) {
    file("m.csv", moons(120));
    const outcome plain = run("cluster m.csv --max-groups 4");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err.find("warning"), std::string::npos) << plain.err;
    const outcome many = run("cluster m.csv --max-groups 40 --quiet");
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(many.err.rfind("rotalign: warning: --max-groups 40 on 120 points: 120 points support at most 15 groups "
                             "(more points each than the 7 neighbours of the local scales); the rotation searches for 2 "
                             "to 40 groups take roughly 220 times the work of those for 2 to 10",
                             0),
              0u)
        << many.err;
    // Too few points for two groups: no work to speak of, and advice that does not contradict.
    file("few.csv", moons(12));
    const outcome few = run("cluster few.csv --quiet");
    EXPECT_EQ(few.err.rfind("rotalign: warning: --max-groups 10 on 12 points: 12 points support at most 1 group (more "
                            "points each than the 7 neighbours of the local scales); try 2 groups, or a smaller "
                            "neighbour count (--neighbours)\n",
                            0),
              0u)
        << few.err;

    const rotalign::labelled_points m = rotalign::two_moons(120, 21);
    std::ostringstream tiny;
    tiny << "x,y\n";
    for (std::size_t i = 0; i < m.data.count; ++i) tiny << m.data.at(i, 0) * 1e-4 << ',' << m.data.at(i, 1) * 1e-4 << '\n';
    file("tiny.csv", tiny.str());
    const outcome small = run("cluster tiny.csv --max-groups 4");
    ASSERT_EQ(small.status, 0) << small.err;
    EXPECT_NE(small.err.find("\nwarning: the local scales of 120 of 120 points (the squared distance to their 7th "
                             "neighbour, median "),
              std::string::npos)
        << small.err;
    EXPECT_NE(small.err.find("Rescale the data (coordinates times about 10000) or standardise the columns "
                             "(--standardise)\n"),
              std::string::npos)
        << small.err;
}

TEST_F(program, the_neighbour_graph_from_the_command_line) {
    file("m.csv", moons(400));
    const outcome dense = run("cluster m.csv --max-groups 4 --graph dense");
    ASSERT_EQ(dense.status, 0) << dense.err;
    EXPECT_NE(dense.err.find("\ngraph: dense\n"), std::string::npos) << dense.err;
    const outcome knn = run("cluster m.csv --max-groups 4 --graph knn --graph-neighbours 20 --neighbour-search kd-tree");
    ASSERT_EQ(knn.status, 0) << knn.err;
    EXPECT_EQ(knn.out, dense.out);
    EXPECT_NE(knn.err.find("\ngraph: knn, 20 nearest neighbours per point by kd-tree, "), std::string::npos) << knn.err;
    EXPECT_NE(knn.err.find(" entries (exact)\n"), std::string::npos) << knn.err;
    EXPECT_NE(knn.err.find("stage times (ms): neighbours "), std::string::npos) << knn.err;
    // The approximate search (where this build has it) says how much it found.
    if (rotalign::available(rotalign::neighbour_backend::hnsw)) {
        const outcome approximate = run("cluster m.csv --max-groups 4 --graph knn --neighbour-search hnsw");
        ASSERT_EQ(approximate.status, 0) << approximate.err;
        EXPECT_NE(approximate.err.find("by hnsw, "), std::string::npos) << approximate.err;
        EXPECT_NE(approximate.err.find("(approximate: recall "), std::string::npos) << approximate.err;
    }
    // What the graph cannot take.
    file("d.csv", "0,1\n1,0\n");
    EXPECT_EQ(run("cluster d.csv --distances --graph knn").status, 2);
    EXPECT_EQ(run("cluster m.csv --graph sparse").status, 2);
    const outcome few = run("cluster m.csv --graph knn --graph-neighbours 5");
    EXPECT_EQ(few.status, 1);
    EXPECT_NE(few.err.find("the graph needs at least as many neighbours per point (5) as the local scales (7)"),
              std::string::npos)
        << few.err;
}

TEST_F(program, points_come_from_pipes_fifos_and_standard_input) {
    file("m.csv", moons(60));
    const outcome from_file = run("cluster m.csv --max-groups 3 --quiet");
    ASSERT_EQ(from_file.status, 0) << from_file.err;
    // The same points as a .npy file, written by the program's own CSV read through a pipe.
    const rotalign::labelled_points m = rotalign::two_moons(60, 21);
    std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (60, 2), }";
    while ((10 + header.size() + 1) % 64 != 0) header += ' ';
    header += '\n';
    std::string npy = std::string("\x93NUMPY\x01\x00", 8) + static_cast<char>(header.size()) + '\0' + header;
    npy.append(reinterpret_cast<const char*>(m.data.values.data()), m.data.values.size() * sizeof(double));
    file("m.npy", npy);
    ASSERT_EQ(std::system(("mkfifo '" + (dir_ / "fifo").string() + "'").c_str()), 0);
    for (const auto& [args, before] : std::vector<std::pair<std::string, std::string>>{
             {"cluster - --max-groups 3 --quiet", "cat m.csv |"},
             {"cluster - --max-groups 3 --quiet <m.npy", ""},
             {"cluster /dev/stdin --max-groups 3 --quiet", "cat m.npy |"},
             {"cluster fifo --max-groups 3 --quiet", "(cat m.npy >fifo &) &&"},
         }) {
        const outcome o = run(args, before);
        EXPECT_EQ(o.status, 0) << args << ": " << o.err;
        EXPECT_EQ(o.out, from_file.out) << args;
    }
    // A distance matrix from standard input, and what goes wrong there named as such.
    file("d.csv", "0,1,4\n1,0,2\n4,2,0\n");
    EXPECT_EQ(run("cluster - --distances --neighbours 1 --max-groups 2 --quiet", "cat d.csv |").out,
              run("cluster d.csv --distances --neighbours 1 --max-groups 2 --quiet").out);
    const outcome cut = run("cluster -", "head -c 200 m.npy |");
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err, "rotalign: standard input: the file ends before its 60-by-2 values\n");
    const outcome binary = run("cluster -", "printf '1,2\\n3,\\0334\\0\\n' |");
    EXPECT_EQ(binary.status, 1);
    EXPECT_EQ(binary.err, "rotalign: standard input, line 2: a NUL byte: the file looks like binary data, not CSV text\n");
}

TEST_F(program, under_an_address_space_limit_it_works_or_says_what_ran_out) {
    if (std::system("command -v prlimit >/dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit is missing";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow memory";
#endif
    ASSERT_EQ(run("generate blobs --points 20000 --seed 3").status, 0);
    fs::rename(dir_ / "out.txt", dir_ / "b.csv");
    // The dense route of 20,000 points needs about 13 GiB: refused before any of it is taken.
    const outcome dense = run("cluster b.csv --graph dense", "prlimit --as=4000000000");
    EXPECT_EQ(dense.status, 1);
    EXPECT_EQ(dense.err.rfind("rotalign: 20000 points need about 13 GiB for the chain's N-by-N matrices; its "
                              "address-space limit (ulimit -v) of 3.7 GiB leaves ",
                              0),
              0u)
        << dense.err;
    EXPECT_EQ(dense.out, "");
    // The nearest-neighbour route under ever larger limits: each run ends with the groups or with
    // a message that says what did not fit, never a bare allocation failure. (Limits just above
    // what the run needs are left out: there OpenBLAS may wait forever for a second buffer.)
    int failed = 0, worked = 0;
    for (const char* limit : {"150000000", "200000000", "250000000", "1500000000"}) {
        const outcome o = run("cluster b.csv --graph knn --quiet", std::string("timeout 120 prlimit --as=") + limit);
        if (o.status == 0) {
            ++worked;
            EXPECT_EQ(lines_of(o.out), 20000u) << limit;
            continue;
        }
        ++failed;
        EXPECT_EQ(o.status, 1) << limit << ": " << o.err;
        const bool named = o.err.rfind("rotalign: out of memory while ", 0) == 0 ||
                           o.err.rfind("rotalign: the chain needs at least 128.0 MiB for the work buffer", 0) == 0;
        EXPECT_TRUE(named) << limit << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(worked, 0);
}
