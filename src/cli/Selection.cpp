#include "cli/Selection.h"

bool Selection::findFirst(const tre::Archive& archive)
{
    if (!pattern_) {
        return archive.entryCount() > 0;
    }
    if (pattern_->minimumLength() > tre::Entry::nameFieldSize) {
        matchesNone_ = true;
        return false;
    }
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        if (pattern_->matches(entry.name())) {
            firstMatch_ = entry.number;
            knownUpTo_ = entry.number;
            return true;
        }
    }
    knownUpTo_ = walk.recordsRead();
    matchesNone_ = !walk.error();
    cutShort_ = static_cast<bool>(walk.error());
    return false;
}

bool Selection::includes(const tre::Entry& entry) const
{
    if (!pattern_) {
        return true;
    }
    if (matchesNone_ || entry.number < knownUpTo_) {
        return false;
    }
    return entry.number == firstMatch_ || pattern_->matches(entry.name());
}
