#include "tre/Error.h"

namespace tre {

namespace {

class LibraryCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "tre"; }

    [[nodiscard]] std::string message(int condition) const override
    {
        switch (static_cast<Errc>(condition)) {
        case Errc::notRegularFile:
            return "Not a regular file";
        case Errc::noSuchEntry:
            return "No such entry";
        case Errc::recordMissing:
            return "The directory record is missing";
        case Errc::invalidEntry:
            return "The entry has an invalid size or offset";
        case Errc::dataMissing:
            return "The entry runs past the end of the archive";
        case Errc::treeTooLarge:
            return "The tree is too large";
        case Errc::nameTooLong:
            return "The name is longer than 64 bytes";
        case Errc::nameHoldsNul:
            return "The name holds a NUL byte";
        case Errc::entryTooLarge:
            return "The entry is larger than 2147483647 bytes";
        case Errc::archiveTooLarge:
            return "The archive would be larger than 2147483647 bytes or hold more entries";
        case Errc::changedWhileRead:
            return "The file changed while it was read";
        }
        return "Unknown error " + std::to_string(condition);
    }
};

} // namespace

const std::error_category& category() noexcept
{
    static const LibraryCategory instance;
    return instance;
}

const char* describe(Step step) noexcept
{
    switch (step) {
    case Step::openArchive:
        return "opening the archive";
    case Step::readArchive:
        return "reading the archive";
    case Step::createFolder:
        return "creating a folder";
    case Step::createFile:
        return "creating a file";
    case Step::writeFile:
        return "writing a file";
    case Step::closeFile:
        return "closing a file";
    case Step::buildTree:
        return "building the tree";
    case Step::readFile:
        return "reading a file";
    case Step::planArchive:
        return "planning the archive";
    }
    return "working";
}

} // namespace tre
