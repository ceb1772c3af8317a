#pragma once

// How the library reports failures. Every operation that can fail returns a
// Result: its value, or an Error that says what was being done (a Step)
// and why it failed (a std::error_code). The code is the operating system's
// own (errno, or GetLastError() on Windows) wherever the system refused
// something, and one of the library's own conditions (tre::Errc, category
// "tre") otherwise. Nothing in the library prints, exits or throws, but
// std::bad_alloc, and std::bad_variant_access where a caller takes the
// value of a Result that holds an error (or the error of one that holds a
// value): check has_value() first, or use value_or().

#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

#include "tre/Api.h"

namespace tre {

// Conditions of the library's own, beside the operating system's codes.
enum class Errc {
    notRegularFile = 1, // an archive path that names a FIFO, a socket, a device...
    noSuchEntry,        // an entry number outside the directory, or a name it does not hold
    recordMissing,      // the file no longer holds a directory record (it shrank after it was opened)
    invalidEntry,       // a negative size, or data at a negative offset: the entry cannot be read
    dataMissing,        // the entry's data runs past the end of the archive
    treeTooLarge,       // more nodes or name bytes than a tree can hold, or more memory than allowed
    nameTooLong,        // a name of more than 64 bytes: it does not fit its record
    nameHoldsNul,       // a name with a NUL byte, which would cut it short
    entryTooLarge,      // data of more than 2^31 - 1 bytes
    archiveTooLarge,    // an archive past 2^31 - 1 bytes, or with more than 2^31 - 1 entries
    changedWhileRead,   // an input changed (size or modification time) while it was read
};

// The category of Errc; its messages are plain English ("Not a regular file").
TRE_API const std::error_category& category() noexcept;

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
    buildTree,
    readFile,
    planArchive,
};

// "opening the archive", "writing a file", ...
TRE_API const char* describe(Step step) noexcept;

struct Error {
    Step step = Step::readArchive;
    std::error_code code;

    // "opening the archive: Is a directory"; "no error" where there is none
    [[nodiscard]] std::string message() const
    {
        return code ? std::string(describe(step)) + ": " + code.message() : std::string("no error");
    }
};

// A value, or the Error that prevented it.
//
// A Result<bool> does not convert to bool: `if (archive.changedSinceOpened())`
// would ask whether the question could be answered, not what the answer is.
// Write `.value_or(false)`, or check has_value() and then take `*result`.
template <typename T> class [[nodiscard]] Result {
public:
    // NOLINTNEXTLINE(google-explicit-constructor): a value or an error converts to a result
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    // NOLINTNEXTLINE(google-explicit-constructor)
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    // NOLINTNEXTLINE(readability-identifier-naming): as std::optional and std::expected say it
    [[nodiscard]] bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept requires(!std::is_same_v<T, bool>) { return has_value(); }

    // The value; std::bad_variant_access when there is none.
    [[nodiscard]] T& value() & { return std::get<0>(state_); }
    [[nodiscard]] const T& value() const& { return std::get<0>(state_); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The value, or `fallback` where there is none.
    // NOLINTNEXTLINE(readability-identifier-naming): as std::optional says it
    template <typename U> [[nodiscard]] T value_or(U&& fallback) const&
    {
        return has_value() ? std::get<0>(state_) : static_cast<T>(std::forward<U>(fallback));
    }
    // NOLINTNEXTLINE(readability-identifier-naming)
    template <typename U> [[nodiscard]] T value_or(U&& fallback) &&
    {
        return has_value() ? std::get<0>(std::move(state_)) : static_cast<T>(std::forward<U>(fallback));
    }

    // The error; std::bad_variant_access when there is a value.
    [[nodiscard]] const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Success, or the Error that prevented it: for operations that return
// nothing else.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    // NOLINTNEXTLINE(google-explicit-constructor)
    Result(Error error) : error_(std::move(error)) {}

    // NOLINTNEXTLINE(readability-identifier-naming)
    [[nodiscard]] bool has_value() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }
    // Nothing; std::bad_variant_access where there is an error, as for any Result.
    void value() const
    {
        if (error_) {
            throw std::bad_variant_access();
        }
    }
    // The error; std::bad_variant_access where there is none.
    [[nodiscard]] const Error& error() const
    {
        if (!error_) {
            throw std::bad_variant_access();
        }
        return *error_;
    }

private:
    std::optional<Error> error_;
};

} // namespace tre

template <> struct std::is_error_code_enum<tre::Errc> : std::true_type {
};
