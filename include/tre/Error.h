#pragma once

// How the library reports failures: every operation that can fail returns
// its result or an Error, never throws (except std::bad_alloc), and never
// prints. An Error says what was being done and why it failed; the reason
// is the operating system's own code (errno, or GetLastError() on Windows)
// wherever the system refused something.

#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace tre {

// Conditions of the library's own, beside the operating system's codes.
enum class Errc {
    notRegularFile = 1, // an archive path that names a FIFO, a socket, a device...
    noSuchEntry,        // an entry number outside the directory
    recordMissing,      // the file no longer holds a directory record (it shrank after it was opened)
};

// The category of Errc; its messages are plain English ("Not a regular file").
const std::error_category& category() noexcept;

// NOLINTNEXTLINE(readability-identifier-naming): the name std::error_code looks for
inline std::error_code make_error_code(Errc condition) noexcept { return {static_cast<int>(condition), category()}; }

// What the library was doing when something failed.
enum class Step {
    openArchive,
    readArchive,
    createFolder,
    createFile,
    writeFile,
    closeFile,
};

// "opening the archive", "writing a file", ...
const char* describe(Step step) noexcept;

struct Error {
    Step step = Step::readArchive;
    std::error_code code;

    // "opening the archive: Is a directory"
    [[nodiscard]] std::string message() const { return std::string(describe(step)) + ": " + code.message(); }
};

// A value, or the Error that prevented it.
template <typename T> class [[nodiscard]] Result {
public:
    // NOLINTNEXTLINE(google-explicit-constructor): a value or an error converts to a result
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    // NOLINTNEXTLINE(google-explicit-constructor)
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    [[nodiscard]] bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // The value; std::bad_variant_access when there is none.
    [[nodiscard]] T& value() & { return std::get<0>(state_); }
    [[nodiscard]] const T& value() const& { return std::get<0>(state_); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The error; std::bad_variant_access when there is a value.
    [[nodiscard]] const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

} // namespace tre

template <> struct std::is_error_code_enum<tre::Errc> : std::true_type {
};
