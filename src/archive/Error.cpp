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
    }
    return "working";
}

} // namespace tre
