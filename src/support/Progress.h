#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

// One line on a terminal that shows how far a long run is: redrawn at most
// ten times a second, and erased before other output reaches the same
// terminal and at the end. Without a terminal it does nothing.
class ProgressLine {
public:
    // `terminal`: where to draw (standard error when it is a terminal), or
    // null; `label` starts the line ("Extracting").
    explicit ProgressLine(std::ostream* terminal, std::string label = "Extracting")
        : terminal_(terminal), label_(std::move(label))
    {
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { erase(); }

    void update(std::int64_t entries, std::int64_t bytes);
    void erase();

private:
    static constexpr std::chrono::milliseconds redrawInterval{100};

    std::ostream* terminal_;
    std::string label_;
    std::chrono::steady_clock::time_point lastDrawn_{};
    bool drawn_ = false;
    std::size_t shownLength_ = 0;
};
