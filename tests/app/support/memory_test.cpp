// The memory the process may take: control-group limits found along the group's path, in both
// versions of control groups, and the tightest of them.
#include "rotalign/support/memory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

TEST(memory_room, control_group_limits_along_the_path_and_the_tightest_wins) {
    const fs::path root = fs::path(::testing::TempDir()) / ("cgroup_" + std::to_string(getpid()));
    const struct {
        const char* name;
        const char* proc_self_cgroup;
        std::map<std::string, std::string> files;  // under the mount
        double room;                               // 0: no limit
        const char* reason;
    } cases[] = {
        {"v2 limit on a parent, none on the group", "0::/a/b\n",
         {{"a/b/memory.max", "max\n"}, {"a/memory.max", "1073741824\n"}, {"a/memory.current", "268435456\n"}},
         805306368.0, "its control group's memory limit of 1.0 GiB leaves 768.0 MiB"},
        {"v2 under unified/, the tighter of two levels", "0::/a\n",
         {{"unified/a/memory.max", "2147483648\n"}, {"unified/a/memory.current", "2147483000\n"},
          {"unified/memory.max", "4294967296\n"}},
         648.0, "its control group's memory limit of 2.0 GiB leaves 648 B"},
        {"v1 with the page-rounded 'no limit' on the group and a limit at the root", "9:pids:/\n4:memory:/x/y\n",
         {{"memory/x/y/memory.limit_in_bytes", "9223372036854771712\n"},
          {"memory/memory.limit_in_bytes", "536870912\n"}, {"memory/memory.usage_in_bytes", "0\n"}},
         536870912.0, "its control group's memory limit of 512.0 MiB leaves 512.0 MiB"},
        {"v1 and v2 together: the tighter", "4:cpu,memory:/g\n0::/g\n",
         {{"memory/g/memory.limit_in_bytes", "3221225472\n"}, {"g/memory.max", "1073741824\n"},
          {"g/memory.current", "1073741824\n"}},
         0.0, "its control group's memory limit of 1.0 GiB leaves 0 B"},
        {"used beyond the limit leaves nothing", "0::/\n", {{"memory.max", "100\n"}, {"memory.current", "200\n"}},
         0.0, "its control group's memory limit of 100 B leaves 0 B"},
        {"no limit anywhere", "0::/a\n4:memory:/a\n", {{"a/memory.max", "max\n"}}, -1.0, ""},
        {"unreadable lines", "garbage\n::\n", {}, -1.0, ""},
    };
    for (const auto& c : cases) {
        fs::remove_all(root);
        for (const auto& [name, text] : c.files) {
            fs::create_directories((root / name).parent_path());
            std::ofstream(root / name) << text;
        }
        const std::optional<rotalign::memory_room> room = rotalign::control_group_room(c.proc_self_cgroup, root.string());
        if (c.room < 0.0) {
            EXPECT_FALSE(room.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(room.has_value()) << c.name;
        EXPECT_EQ(room->bytes, c.room) << c.name;
        EXPECT_EQ(room->reason, c.reason) << c.name;
    }
    fs::remove_all(root);
    // The process itself: at least the machine's memory is known.
    const std::optional<rotalign::memory_room> now = rotalign::memory_room_now();
    ASSERT_TRUE(now.has_value());
    EXPECT_GT(now->bytes, 0.0);
}

TEST(memory_room, what_is_left_counts_the_process_own_memory_once) {
    const auto room = rotalign::memory_room_now();
    const auto left = rotalign::memory_left_now();
    ASSERT_TRUE(room.has_value() && left.has_value());  // /proc is there on every machine we build on
    EXPECT_TRUE(left->net_of_own_use);
    const double held = rotalign::resident_bytes();
    EXPECT_GT(held, 0.0);
    if (left->reason.find("available") != std::string::npos) {
        // Other programs hold the difference.
        EXPECT_LE(left->bytes, room->bytes);
    } else if (room->net_of_own_use) {
        EXPECT_EQ(left->bytes, room->bytes);
    } else {
        // The machine's size less what this process holds, and the reason says so.
        EXPECT_NEAR(left->bytes, room->bytes - held, 64.0 * 1024 * 1024);
        EXPECT_NE(left->reason.find("held by this process"), std::string::npos) << left->reason;
    }
}
