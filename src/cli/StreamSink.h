#pragma once

#include <ostream>
#include <span>
#include <system_error>

#include "tre/Archive.h"

// Bytes written to a stream (standard output), as a copy's sink: a stream
// that fails stops the copy.
inline tre::ByteSink streamSink(std::ostream& out)
{
    return [&out](std::span<const char> bytes) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return out.good() ? std::error_code() : std::make_error_code(std::errc::io_error);
    };
}
