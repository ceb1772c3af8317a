#pragma once

// Files written beside an archive that is being read, never destroying it.

#include <filesystem>
#include <memory>
#include <span>
#include <system_error>

#include "tre/Api.h"
#include "tre/Error.h"

namespace tre {

class Archive;
namespace detail {
struct OutputState;
}

// A file created, or emptied, to be written from the start. Where its path
// leads to the very file that `keep` holds open (by any spelling or link,
// or as another hard link of it), that file is left alone: a new file is
// written beside it and moved over the name given once commit() is called,
// so `keep` goes on reading what it opened. Through a symbolic link the
// link's target gets the new contents and the link stays a link. This is
// decided from the file opened, not from the path, so a link swapped in
// meanwhile changes nothing. Only a regular file is ever replaced.
class TRE_API OutputFile {
public:
    // Errors (Step::createFile): the system's reason. The file is emptied
    // only where it holds bytes: truncating an empty file costs a flush of
    // the whole file at its close on some file systems.
    static Result<OutputFile> create(const std::filesystem::path& path, const Archive* keep = nullptr);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Without commit(): a file written in place is closed as it stands; a
    // new file meant to replace another is removed.
    ~OutputFile();

    // Appends every byte, or says why not (Step::writeFile).
    Result<void> write(std::span<const char> bytes);
    // Closes the file and, where it replaces another, flushes it to the disk
    // and moves it into place, with the owner and mode of the file it
    // replaces (the owner where the user may give it). Errors: a delayed
    // write error surfaces here (Step::closeFile), or why the new file
    // could not take the old one's place, mode or owner (Step::createFile).
    Result<void> commit();

private:
    explicit OutputFile(std::unique_ptr<detail::OutputState> state);
    std::unique_ptr<detail::OutputState> state_;
};

} // namespace tre
