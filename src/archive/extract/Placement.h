#pragma once

// The first steps of extracting an entry, the same into a folder on disk
// and into a tree in memory, so that both decide alike: the name becomes
// path components under the rules given (or the entry is skipped as
// unsafe), then `create(components)` makes the entry's file where nothing
// stands in the way, and what it met becomes the entry's outcome.

#include <utility>

#include "support/OutputTree.h"
#include "tre/EntryPath.h"
#include "tre/FolderExtraction.h"

namespace tre::detail {

template <typename Create> ExtractedEntry placeEntry(const Entry& entry, PathRules rules, Create&& create)
{
    ExtractedEntry result;
    std::optional<std::vector<std::string_view>> components = entryPathComponents(entry.name(), rules);
    if (!components) {
        result.outcome = Outcome::unsafeName;
        return result;
    }
    result.path = std::move(*components);
    const OutputTree::Created made = create(result.path);
    switch (made.result) {
    case OutputTree::Result::created:
        result.outcome = Outcome::written;
        break;
    case OutputTree::Result::throughLink:
        result.outcome = Outcome::throughLink;
        break;
    case OutputTree::Result::kept:
        result.outcome = Outcome::wouldOverwriteArchive;
        break;
    case OutputTree::Result::failed:
        result.outcome = Outcome::failed;
        result.error = {made.at == OutputTree::Making::folder ? Step::createFolder : Step::createFile, made.error};
        break;
    }
    return result;
}

} // namespace tre::detail
