#include "cli/Report.h"

#include "support/Console.h"

std::string Report::shown(std::string_view name) const { return terminalSafe(name, style_.terminal); }

void Report::holdLines(bool hold)
{
    held_ = hold && !style_.terminal;
    if (!held_) {
        out_.flush();
    }
}
