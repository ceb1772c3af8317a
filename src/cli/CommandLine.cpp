#include "cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <limits>

#include "archive/TreArchive.h"
#include "cli/ArchiveTest.h"
#include "cli/EntryWalk.h"
#include "cli/Extraction.h"
#include "cli/FolderExtraction.h"
#include "cli/Listing.h"
#include "cli/Output.h"
#include "cli/Pattern.h"
#include "cli/Progress.h"
#include "support/String.h"

namespace {

enum class Flag { help, input, listToConsole, listToFile, extract, extractAll, match, verbose, test };

struct FlagSyntax {
    const char* text;
    Flag flag;
    std::size_t valueCount;
    const char* valueUsage;
};

// matched in this order, each against the whole argument, case-sensitively
constexpr std::array<FlagSyntax, 9> flagSyntax{{
    {"-h", Flag::help, 0, ""},
    {"-f", Flag::input, 1, "<filename>"},
    {"-l", Flag::listToConsole, 0, ""},
    {"-lf", Flag::listToFile, 1, "<listfile>"},
    {"-o", Flag::extract, 2, "<tre_filenum> <out_filename>"},
    {"-x", Flag::extractAll, 1, "<folder>"},
    {"-m", Flag::match, 1, "<pattern>"},
    {"-v", Flag::verbose, 0, ""},
    {"-t", Flag::test, 0, ""},
}};

struct Request {
    String inputPath;
    String currentArg;
    String outputPath;
    String listPath;
    String folderPath;
    String pattern;
    std::int32_t entryNumber = 0;
    bool extract = false;
    bool listToFile = false;
    bool listToConsole = false;
    bool haveInput = false;
    bool extractAll = false;
    bool havePattern = false;
    bool verbose = false;
    bool test = false;
    // a flag that stood too near the end to have all its values
    const FlagSyntax* incomplete = nullptr;
};

void printHelp(std::ostream& out)
{
    writeLine(out, "Flags:");
    writeLine(out, " Help Screen: -h");
    writeLine(out, "  Input File:  -f <filename>");
    writeLine(out, "  List TRE Contents: -l");
    writeLine(out, "  List TRE Contents to file: -lf <listfile>");
    writeLine(out, "  Output File: -o <tre_filenum> <out_filename>");
    writeLine(out, "  Extract TRE Contents to folder: -x <folder>");
    writeLine(out, "  Only entries whose names match: -m <pattern>");
    writeLine(out, "  Show sizes and offsets in listings: -v");
    writeLine(out, "  Test TRE Contents: -t");
}

const FlagSyntax* findFlag(const String& argument)
{
    const auto* found = std::find_if(flagSyntax.begin(), flagSyntax.end(),
                                     [&](const FlagSyntax& syntax) { return argument == syntax.text; });
    return found == flagSyntax.end() ? nullptr : found;
}

void applyFlag(Request& request, Flag flag, const char* const* values, std::ostream& out)
{
    switch (flag) {
    case Flag::help:
        printHelp(out);
        break;
    case Flag::input:
        request.inputPath = values[0];
        request.haveInput = true;
        break;
    case Flag::listToConsole:
        request.listToConsole = true;
        break;
    case Flag::listToFile:
        request.listPath = values[0];
        request.listToFile = true;
        break;
    case Flag::extract:
        request.entryNumber = parseEntryNumber(values[0]);
        request.outputPath = values[1];
        request.extract = true;
        break;
    case Flag::extractAll:
        request.folderPath = values[0];
        request.extractAll = true;
        break;
    case Flag::match:
        request.pattern = values[0];
        request.havePattern = true;
        break;
    case Flag::verbose:
        request.verbose = true;
        break;
    case Flag::test:
        request.test = true;
        break;
    }
}

// Values are consumed and never examined as flags, even those of a flag
// that turns out incomplete; a later flag overrides an earlier one.
void scanArguments(std::span<const char* const> arguments, Request& request, std::ostream& out)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        request.currentArg = arguments[i];
        const FlagSyntax* syntax = findFlag(request.currentArg);
        if (syntax == nullptr) {
            continue;
        }
        if (syntax->valueCount >= arguments.size() - i) {
            request.incomplete = syntax;
        } else {
            applyFlag(request, syntax->flag, arguments.data() + i + 1, out);
        }
        i += syntax->valueCount;
    }
}

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool anyEntrySelected(const TreArchive& archive, const Selection& selection)
{
    bool found = false;
    forEachSelectedEntry(archive, &selection, [&](std::int32_t /*entryNumber*/, const TreEntry& /*entry*/) {
        found = true;
        return false;
    });
    return found;
}

// The actions after loading, in their fixed order; once standard output has
// failed, nothing more is done. False when an "Exit Message" line was printed.
bool runActions(const Request& request, const TreArchive& archive, std::ostream& out, const ConsoleInfo& console)
{
    const Selection selection = request.havePattern ? Selection(request.pattern.c_str()) : Selection();
    bool succeeded = true;
    const bool selecting = request.listToConsole || request.listToFile || request.test || request.extractAll;
    if (request.havePattern && selecting && !anyEntrySelected(archive, selection)) {
        writeLine(out, "Exit Message: No entry matches (", request.pattern, ").");
        succeeded = false;
    }
    const ListingStyle style{.terminal = console.outputIsTerminal, .verbose = request.verbose, .selection = &selection};
    if (out.good() && request.listToConsole) {
        succeeded = listToConsole(out, archive, style) && succeeded;
    }
    if (out.good() && request.listToFile) {
        succeeded = listToFile(out, archive, request.listPath, style) && succeeded;
    }
    if (out.good() && request.test) {
        succeeded = testArchive(out, archive, selection, console.outputIsTerminal) && succeeded;
    }
    if (out.good() && request.extract) {
        succeeded =
            extractEntry(out, archive, request.entryNumber, request.outputPath, console.outputIsTerminal) && succeeded;
    }
    if (out.good() && request.extractAll) {
        ProgressLine progress(console.progress);
        succeeded = extractToFolder(out, archive, request.folderPath, selection, console.outputIsTerminal, progress) &&
                    succeeded;
    }
    return succeeded && out.good();
}

} // namespace

std::int32_t parseEntryNumber(const char* text)
{
    while (isCSpace(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // one past the largest magnitude that fits, so saturation is exact
    constexpr std::int64_t magnitudeLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = std::min(magnitude * 10 + (*text - '0'), magnitudeLimit);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

int runCommandLine(std::span<const char* const> arguments, std::ostream& out, const ConsoleInfo& console)
{
    if (arguments.size() < 2) {
        printHelp(out);
        return out.good() ? 0 : 1;
    }
    Request request;
    scanArguments(arguments, request, out);
    if (request.incomplete != nullptr) {
        writeLine(out, "Exit Message: ", request.incomplete->text, " needs ", request.incomplete->valueUsage, ".");
        return 1;
    }
    if (!request.haveInput) {
        writeLine(out, "Exit Message: You must have an input file.");
        return 1;
    }
    TreArchive archive;
    if (archive.load(request.inputPath) == TreArchive::LoadResult::cannotOpen) {
        writeLine(out, "Exit Message: Cannot open archive (", request.inputPath, ").");
        return 1;
    }
    return out.good() && runActions(request, archive, out, console) ? 0 : 1;
}
