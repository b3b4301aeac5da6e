#include "rotalign/support/progress.h"

#include <cstdio>

namespace rotalign {

namespace {
constexpr std::chrono::milliseconds refresh(250);
}

progress::progress(std::ostream& out, bool enabled, std::chrono::milliseconds delay)
    : out_(out), enabled_(enabled), delay_(delay) {
    if (enabled_) watcher_ = std::thread(&progress::watch, this);
}

progress::~progress() {
    if (!enabled_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    watcher_.join();
    erase();
}

void progress::begin(const std::string& stage) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    erase();
    stage_ = stage;
    detail_.clear();
    started_ = std::chrono::steady_clock::now();
    share_ = -1.0;
    running_ = true;
    wake_.notify_all();
}

void progress::done(double share) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    share_ = share;
}

void progress::detail(const std::string& text) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    detail_ = text;
}

void progress::end() {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    erase();
}

void progress::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, refresh);
        if (running_ && !stopping_ && std::chrono::steady_clock::now() - started_ >= delay_) draw(lock);
    }
}

void progress::draw(std::unique_lock<std::mutex>&) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const std::string stage = detail_.empty() ? stage_ : stage_ + " (" + detail_ + ")";
    char text[200];
    if (share_ >= 0.0)
        std::snprintf(text, sizeof text, "%s: %.0f%%, %.1f s", stage.c_str(), 100.0 * share_, seconds);
    else
        std::snprintf(text, sizeof text, "%s: %.1f s", stage.c_str(), seconds);
    std::string line = text;
    const std::size_t length = line.size();
    if (length < drawn_) line.append(drawn_ - length, ' ');
    out_ << '\r' << line << std::flush;
    drawn_ = length;
}

void progress::erase() {
    if (drawn_ == 0) return;
    out_ << '\r' << std::string(drawn_, ' ') << '\r' << std::flush;
    drawn_ = 0;
}

stage_timer::stage_timer(progress* report, const char* stage, double& seconds)
    : report_(report), seconds_(seconds), start_(std::chrono::steady_clock::now()) {
    if (report_ != nullptr) report_->begin(stage);
}

stage_timer::~stage_timer() {
    seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (report_ != nullptr) report_->end();
}

}  // namespace rotalign
