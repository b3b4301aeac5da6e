// The progress line: shown on a terminal while a stage runs, erased after, absent otherwise.
#include "rotalign/support/progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

TEST(progress, a_running_stage_is_shown_and_erased_when_it_ends) {
    std::ostringstream out;
    double seconds = 0.0;
    {
        rotalign::progress report(out, true, std::chrono::milliseconds(0));
        {
            rotalign::stage_timer stage(&report, "eigenvectors", seconds);
            report.done(0.5);
            report.detail("c = 3, 1 of 9 searches done");
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
    }
    EXPECT_GE(seconds, 0.3);
    const std::string text = out.str();
    EXPECT_NE(text.find("\reigenvectors (c = 3, 1 of 9 searches done): 50%, 0."), std::string::npos) << text;
    // The line ends erased: blanks over it and the cursor back at its start.
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.back(), '\r');
    EXPECT_EQ(text[text.size() - 2], ' ');
}

TEST(progress, nothing_is_written_when_disabled_or_for_short_stages) {
    std::ostringstream off, quick;
    double seconds = 0.0;
    {
        rotalign::progress disabled(off, false, std::chrono::milliseconds(0));
        rotalign::progress patient(quick, true, std::chrono::seconds(60));
        rotalign::stage_timer a(&disabled, "neighbours", seconds);
        rotalign::stage_timer b(&patient, "neighbours", seconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(off.str(), "");
    EXPECT_EQ(quick.str(), "");
    // No report at all still times the stage.
    { rotalign::stage_timer c(nullptr, "rotation", seconds); }
    EXPECT_GE(seconds, 0.0);
}
