#include "cli/ListAction.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "cli/Json.h"
#include "cli/StreamSink.h"
#include "support/Console.h"
#include "tre/OutputFile.h"

namespace {

constexpr std::size_t numberSize = 16;
constexpr std::string_view bytesAtOffset = " bytes at offset ";
// The longest listing line: "N: name (S bytes at offset O)", a whole name field.
constexpr std::size_t maxLineSize =
    numberSize + 2 + tre::Entry::nameFieldSize + 2 + numberSize + bytesAtOffset.size() + numberSize + 1;

char* appendNumber(char* at, std::int32_t number) { return std::to_chars(at, at + numberSize, number).ptr; }

// Writes the listing line of an entry, without a line end, at `at`, which
// has room for maxLineSize bytes; returns where the line ends.
char* formatLine(char* at, const tre::Entry& entry, std::string_view name, const ListingStyle& style)
{
    at = appendNumber(at, entry.number);
    *at++ = ':';
    *at++ = ' ';
    at = std::copy(name.begin(), name.end(), at);
    if (style.verbose) {
        *at++ = ' ';
        *at++ = '(';
        at = appendNumber(at, entry.size);
        at = std::copy(bytesAtOffset.begin(), bytesAtOffset.end(), at);
        at = appendNumber(at, entry.offset);
        *at++ = ')';
    }
    return at;
}

// The longest line of either kind, line end included.
constexpr std::size_t maxAnyLineSize = std::max(maxLineSize + 2, jsonLineCapacity(tre::Entry::nameFieldSize));

constexpr std::size_t maxBufferSize = std::size_t{1} << 20;
constexpr std::align_val_t pageAlignment{4096};

// Lines go through one page-aligned buffer, written out whenever it fills:
// a few large writes instead of one per line. The first failure is kept,
// and nothing more is written after it.
class BufferedWriter {
public:
    // `expectedSize` bounds the buffer, so a short listing takes no megabyte
    BufferedWriter(tre::ByteSink sink, std::size_t expectedSize)
        : sink_(std::move(sink)), size_(std::clamp(expectedSize, maxAnyLineSize, maxBufferSize)),
          buffer_(static_cast<char*>(::operator new(size_, pageAlignment)))
    {
    }

    // Room for `size` more bytes; commit() says how many were used.
    char* space(std::size_t size)
    {
        if (size > size_ - used_) {
            flush();
        }
        return buffer_.get() + used_;
    }

    void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

    std::error_code finish()
    {
        flush();
        return error_;
    }

private:
    struct Release {
        void operator()(char* block) const noexcept { ::operator delete(block, pageAlignment); }
    };

    void flush()
    {
        if (!error_ && used_ > 0) {
            error_ = sink_({buffer_.get(), used_});
        }
        used_ = 0;
    }

    tre::ByteSink sink_;
    std::size_t size_;
    std::unique_ptr<char, Release> buffer_;
    std::size_t used_ = 0;
    std::error_code error_;
};

// -l -j: JSON lines in blocks (one by one on a terminal).
void listJson(Report& report, const tre::Archive& archive, const Selection& selection, const JsonOutput& json)
{
    std::ostream& out = *json.stream;
    BufferedWriter writer(streamSink(out), json.terminal ? maxAnyLineSize : maxBufferSize);
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        if (selection.includes(entry)) {
            char* at = writer.space(maxAnyLineSize);
            writer.commit(writeJsonLine(at, entry.number, entry.name(), entry.size, entry.offset));
            if (json.terminal) {
                writer.finish();
            }
        }
        if (!out.good()) {
            return; // the driver reports a failed standard output
        }
    }
    if (writer.finish() || !out.flush()) {
        return;
    }
    report.shortDirectory(archive, walk);
}

} // namespace

void listToConsole(Report& report, const tre::Archive& archive, const Selection& selection, const ListingStyle& style,
                   const JsonOutput& json)
{
    if (style.json) {
        listJson(report, archive, selection, json);
        return;
    }
    std::array<char, maxLineSize> line{};
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        if (selection.includes(entry)) {
            // (a name shown as stored needs no copy)
            const char* end = report.terminal() ? formatLine(line.data(), entry, report.shown(entry.name()), style)
                                                : formatLine(line.data(), entry, entry.name(), style);
            report.say(std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
            if (!report.good()) {
                return; // a listing cut short by standard output itself is the driver's to report
            }
        }
    }
    report.shortDirectory(archive, walk);
}

void listToFile(Report& report, const tre::Archive& archive, const String& listPath, const Selection& selection,
                const ListingStyle& style)
{
    tre::Result<tre::OutputFile> output = tre::OutputFile::create(toNativePath(listPath.c_str()), &archive);
    if (!output) {
        report.failBecause(output.error().code, "Cannot write list file (", listPath, ")");
        return;
    }
    const std::string_view lineEnd = textFileLineEnd;
    BufferedWriter writer(
        [&](std::span<const char> bytes) {
            const tre::Result<void> written = output->write(bytes);
            return written ? std::error_code() : written.error().code;
        },
        (static_cast<std::size_t>(archive.entryCount()) + 1) * (maxLineSize + lineEnd.size()));
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        if (!selection.includes(entry)) {
            continue;
        }
        char* at = writer.space(maxAnyLineSize);
        if (style.json) {
            writer.commit(writeJsonLine(at, entry.number, entry.name(), entry.size, entry.offset));
        } else {
            char* end = formatLine(at, entry, entry.name(), style);
            writer.commit(std::copy(lineEnd.begin(), lineEnd.end(), end));
        }
    }
    std::error_code error = writer.finish();
    // a new file meant to replace the archive takes its place only when
    // written whole; a file written in place holds what was written
    if (!error) {
        const tre::Result<void> committed = output->commit();
        error = committed ? std::error_code() : committed.error().code;
    }
    if (error) {
        report.failBecause(error, "Cannot write list file (", listPath, ")");
        return;
    }
    report.shortDirectory(archive, walk);
}
