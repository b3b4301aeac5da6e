// The command line through `run`, on streams of the test's own: whatever the arguments, it
// answers with a status and never throws; the checks that keep outputs from clobbering inputs;
// and when the program restarts itself for huge pages.
#include "cli.h"
#include "huge_pages.h"
#include "output_checks.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

TEST(command_line, any_arguments_give_a_status_a_message_and_no_stray_file) {
    // Tokens of every kind: commands, options with and without values, values in and out of
    // range, files that do not exist. No token names a file that exists, so a run that gets past
    // the command line stops at reading (status 1); mistakes stop before it (status 2).
    const std::vector<std::string> tokens = {
        "cluster", "generate", "demo", "help", "--help", "-h", "absent.csv", "--neighbours", "0", "7", "1.5",
        "--max-groups", "1", "--groups", "--tolerance", "-1", "--scale", "--affinity", "pellor", "olvane", "local",
        "--graph", "knn", "--solver", "lanczos", "--output", "", "absent.csv", "--plot", "--distances", "--quiet",
        "--format", "csv", "--list", "--points", "--seed", "--truth", "--wat", "--neighbours=3", "x"};
    std::mt19937 random(11);
    const fs::path dir = fs::path(::testing::TempDir()) / ("rotalign_cli_" + std::to_string(getpid()));
    fs::create_directories(dir);
    // Back to the first folder however the test ends.
    struct back_to {
        fs::path folder;
        ~back_to() { fs::current_path(folder); }
    } const here{fs::current_path()};
    fs::current_path(dir);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<std::string> args;
        const int count = static_cast<int>(random() % 7);
        for (int k = 0; k < count; ++k) args.push_back(tokens[random() % tokens.size()]);
        // Nothing that would write a demo folder or a large data set.
        if (!args.empty() && args[0] == "demo") args[0] = "cluster";
        if (!args.empty() && args[0] == "generate") args.push_back("--points=5");
        std::ostringstream out, err;
        int status = -1;
        EXPECT_NO_THROW(status = rotalign::run(args, out, err, dir.string()));
        std::string line;
        for (const std::string& a : args) line += "'" + a + "' ";
        ASSERT_TRUE(status == 0 || status == 1 || status == 2) << line;
        if (status == 2) {
            EXPECT_EQ(err.str().rfind("rotalign: ", 0), 0u) << line;
            EXPECT_NE(err.str().find("\n\nusage: rotalign cluster"), std::string::npos) << line;
            EXPECT_EQ(out.str(), "") << line;
        }
        if (status == 1) {
            EXPECT_EQ(err.str().rfind("rotalign: ", 0), 0u) << line << err.str();
        }
        if (status != 0) {
            EXPECT_FALSE(fs::exists(dir / "absent.csv")) << line;
        }
    }
    fs::remove_all(dir);
}

TEST(output_checks, one_file_under_several_names_is_one_file) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("rotalign_outputs_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
    const std::string in = (dir / "in.csv").string();
    std::ofstream(in) << "1,2\n";
    fs::create_hard_link(in, dir / "hard.csv");
    fs::create_symlink(in, dir / "soft.csv");
    const std::string dotted = (dir / "sub" / ".." / "in.csv").string();
    for (const std::string& other : {in, (dir / "hard.csv").string(), (dir / "soft.csv").string(), dotted}) {
        const auto found = rotalign::clashes({{"", in}}, {{"--output", other}});
        ASSERT_EQ(found.size(), 1u) << other;
        EXPECT_EQ(found[0].output.path, other);
        EXPECT_EQ(found[0].other.path, in);
    }
    // Two outputs that do not exist yet but name one path; apart files are no clash.
    const std::string fresh = (dir / "new.svg").string();
    EXPECT_EQ(rotalign::clashes({}, {{"--plot", fresh}, {"--output", (dir / "sub" / ".." / "new.svg").string()}}).size(),
              1u);
    EXPECT_TRUE(rotalign::clashes({{"", in}}, {{"--output", fresh}, {"--plot", (dir / "b.svg").string()}}).empty());

    EXPECT_EQ(rotalign::unwritable_reason(fresh), "");
    EXPECT_EQ(rotalign::unwritable_reason(in), "");
    EXPECT_EQ(rotalign::unwritable_reason((dir / "sub").string()), "it is a folder");
    EXPECT_EQ(rotalign::unwritable_reason((dir / "none" / "x.csv").string()),
              "no folder " + (dir / "none").string());
    EXPECT_EQ(rotalign::unwritable_reason((dir / "in.csv" / "x.csv").string()), in + " is not a folder");
    fs::remove_all(dir);
}

TEST(huge_pages, the_restart_adds_the_tunable_once_keeps_the_others_and_respects_a_choice) {
    const std::string madvise = "always [madvise] never\n";
    EXPECT_EQ(rotalign::tunables_for_huge_pages(madvise, nullptr, 2, 36), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(rotalign::tunables_for_huge_pages(madvise, "glibc.malloc.arena_max=2", 3, 0),
              "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
    // Set already, by the restart itself or by the user: no second restart, no loop.
    for (const char* set : {"glibc.malloc.hugetlb=1", "glibc.malloc.hugetlb=0", "x=1:glibc.malloc.hugetlb=0"})
        EXPECT_FALSE(rotalign::tunables_for_huge_pages(madvise, set, 2, 36)) << set;
    // Huge pages always or never, or a glibc that does not know the tunable: nothing to gain.
    for (const char* mode : {"[always] madvise never", "always madvise [never]", ""})
        EXPECT_FALSE(rotalign::tunables_for_huge_pages(mode, nullptr, 2, 36)) << mode;
    EXPECT_FALSE(rotalign::tunables_for_huge_pages(madvise, nullptr, 2, 34));
    EXPECT_FALSE(rotalign::tunables_for_huge_pages(madvise, nullptr, 1, 99));
}
