#include "support/Progress.h"

void ProgressLine::update(std::int64_t entries, std::int64_t bytes)
{
    if (terminal_ == nullptr) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    // the throttle holds whatever was printed in between, an erase included
    if (drawn_ && now - lastDrawn_ < redrawInterval) {
        return;
    }
    drawn_ = true;
    lastDrawn_ = now;
    const std::string text = label_ + ": " + std::to_string(entries) + " entries, " + std::to_string(bytes) + " bytes";
    // blanks over what a longer line left behind; plain \r works on every console
    const std::string padding(shownLength_ > text.size() ? shownLength_ - text.size() : 0, ' ');
    *terminal_ << '\r' << text << padding << std::flush;
    shownLength_ = text.size();
}

void ProgressLine::erase()
{
    if (terminal_ == nullptr || shownLength_ == 0) {
        return;
    }
    *terminal_ << '\r' << std::string(shownLength_, ' ') << '\r' << std::flush;
    shownLength_ = 0;
}
