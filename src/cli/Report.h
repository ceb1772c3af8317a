#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

#include "support/Progress.h"
#include "tre/Archive.h"

// Every line a run prints goes through one Report: it decides where lines
// go and when they are flushed, spells the "Exit Message: " lines with
// their causes, shows entry names terminal-safe, and remembers whether the
// run failed (exit status 1).
class Report {
public:
    struct Style {
        // the lines go to a terminal: names are shown terminal-safe
        bool terminal = false;
        // -q: notes (report lines, last lines of success) are left out
        bool quiet = false;
        // erased before each line when it is drawn on the same terminal
        ProgressLine* progress = nullptr;
    };

    Report(std::ostream& out, const Style& style) : out_(out), style_(style) {}

    // A line that is always printed: listing lines, damage found by -t, ...
    template <typename... Pieces> void say(const Pieces&... pieces) { line(pieces...); }
    // A line that -q leaves out.
    template <typename... Pieces> void note(const Pieces&... pieces)
    {
        if (!style_.quiet) {
            line(pieces...);
        }
    }
    // "Exit Message: PIECES." The run ends with status 1.
    template <typename... Pieces> void fail(const Pieces&... pieces)
    {
        failed_ = true;
        line("Exit Message: ", pieces..., ".");
    }
    // A line that is no "Exit Message" but still ends the run with status 1.
    template <typename... Pieces> void sayAndFail(const Pieces&... pieces)
    {
        failed_ = true;
        line(pieces...);
    }
    // "Exit Message: PIECES: REASON." with the system's reason for `cause`,
    // or as fail() where there is none.
    template <typename... Pieces> void failBecause(const std::error_code& cause, const Pieces&... pieces)
    {
        if (cause) {
            fail(pieces..., ": ", cause.message());
        } else {
            fail(pieces...);
        }
    }

    // An entry name as these lines show it. Names come from the archive, so
    // they are untrusted: on a terminal, every C0 and C1 control character,
    // DEL and every byte that is not part of valid UTF-8 becomes '?', so
    // that no name can move the cursor, clear the screen, set the window
    // title or fake a line; valid UTF-8 text shows as it is. Elsewhere (a
    // pipe, a file) names stay as stored.
    [[nodiscard]] std::string shown(std::string_view name) const;

    // "Exit Message: Read only N of C directory records." after a walk that
    // ended early; nothing after a whole one. Every action that walks the
    // directory ends this way.
    void shortDirectory(const tre::Archive& archive, const tre::EntryWalk& walk)
    {
        shortDirectory(archive.entryCount(), walk.recordsRead(), walk.error());
    }
    void shortDirectory(std::int32_t entryCount, std::int32_t recordsRead, const std::error_code& error)
    {
        if (error) {
            fail("Read only ", recordsRead, " of ", entryCount, " directory records");
        }
    }

    [[nodiscard]] bool failed() const { return failed_; }
    [[nodiscard]] bool good() const { return out_.good(); }
    [[nodiscard]] bool terminal() const { return style_.terminal; }
    // The stream the lines go to, for lines written in blocks of their own.
    [[nodiscard]] std::ostream& stream() const { return out_; }
    // -x's progress line, erased before each line that shares its terminal.
    void setProgress(ProgressLine* progress) { style_.progress = progress; }

    // Off a terminal, lines are written in blocks from here on instead of
    // being flushed one by one (a hundred thousand flushes took a third of a
    // whole extraction); released, they are flushed.
    void holdLines(bool hold);

private:
    template <typename... Pieces> void line(const Pieces&... pieces)
    {
        if (style_.terminal && style_.progress != nullptr) {
            style_.progress->erase();
        }
        (out_ << ... << pieces) << '\n';
        if (!held_) {
            out_.flush();
        }
    }

    std::ostream& out_;
    Style style_;
    bool failed_ = false;
    bool held_ = false;
};
