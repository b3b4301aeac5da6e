// Progress of long stages, for a person watching a terminal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace rotalign {

// Shows the stage that is running, its time so far and, where the stage reports it, the share
// done, on one line that is rewritten in place and erased when the stage ends. Nothing appears
// for a stage shorter than `delay`, and nothing at all unless `enabled`: the program enables it
// only when standard error is a terminal, so that logs and pipes stay clean.
class progress {
public:
    progress(std::ostream& out, bool enabled, std::chrono::milliseconds delay = std::chrono::seconds(1));
    ~progress();
    progress(const progress&) = delete;
    progress& operator=(const progress&) = delete;

    void begin(const std::string& stage);
    // The share of the current stage done, from 0 to 1.
    void done(double share);
    // Where the current stage is, shown after its name (such as "c = 12, 10 of 59 searches done").
    void detail(const std::string& text);
    void end();

private:
    void watch();
    void draw(std::unique_lock<std::mutex>& lock);
    void erase();

    std::ostream& out_;
    const bool enabled_;
    const std::chrono::milliseconds delay_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string stage_;
    std::string detail_;
    std::chrono::steady_clock::time_point started_;
    double share_ = -1.0;
    std::size_t drawn_ = 0;  // length of the line on screen
    bool running_ = false;
    bool stopping_ = false;
    std::thread watcher_;
};

// A stage of the chain: adds its seconds to `seconds` and shows it on `report` (which may be
// null) while it runs.
class stage_timer {
public:
    stage_timer(progress* report, const char* stage, double& seconds);
    ~stage_timer();
    stage_timer(const stage_timer&) = delete;
    stage_timer& operator=(const stage_timer&) = delete;

private:
    progress* report_;
    double& seconds_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace rotalign
