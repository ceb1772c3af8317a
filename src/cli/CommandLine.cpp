#include "cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "cli/CheckAction.h"
#include "cli/CopyAction.h"
#include "cli/ExtractAction.h"
#include "cli/ListAction.h"
#include "cli/Report.h"
#include "cli/Selection.h"
#include "cli/String.h"
#include "support/Console.h"
#include "support/ProgramVersion.h"
#include "support/Progress.h"
#include "tre/Archive.h"

namespace {

enum class Flag {
    help,
    input,
    listToConsole,
    listToFile,
    extract,
    extractAll,
    match,
    verbose,
    test,
    json,
    print,
    quiet,
    longHelp,
    version,
};

struct FlagSyntax {
    const char* text;
    Flag flag;
    std::size_t valueCount;
    const char* valueUsage;
};

// matched in this order, each against the whole argument, case-sensitively
constexpr std::array<FlagSyntax, 14> flagSyntax{{
    {"-h", Flag::help, 0, ""},
    {"-f", Flag::input, 1, "<filename>"},
    {"-l", Flag::listToConsole, 0, ""},
    {"-lf", Flag::listToFile, 1, "<listfile>"},
    {"-o", Flag::extract, 2, "<tre_filenum> <out_filename>"},
    {"-x", Flag::extractAll, 1, "<folder>"},
    {"-m", Flag::match, 1, "<pattern>"},
    {"-v", Flag::verbose, 0, ""},
    {"-t", Flag::test, 0, ""},
    {"-j", Flag::json, 0, ""},
    {"-p", Flag::print, 1, "<tre_filenum>"},
    {"-q", Flag::quiet, 0, ""},
    {"--help", Flag::longHelp, 0, ""},
    {"--version", Flag::version, 0, ""},
}};

struct Request {
    String inputPath;
    String currentArg;
    String outputPath;
    String listPath;
    String folderPath;
    String pattern;
    std::int32_t entryNumber = 0;
    std::int32_t printNumber = 0;
    bool extract = false;
    bool listToConsole = false;
    bool listToFile = false;
    bool haveInput = false;
    bool extractAll = false;
    bool havePattern = false;
    bool verbose = false;
    bool test = false;
    bool json = false;
    bool print = false;
    bool quiet = false;
    // -h seen: each prints the help screen, in the scan's place
    int helpScreens = 0;
    // --help or --version ended the scan
    std::optional<Flag> stoppedBy;
    // a flag that stood too near the end to have all its values
    const FlagSyntax* incomplete = nullptr;
};

void printHelp(Report& report)
{
    report.say("Flags:");
    report.say(" Help Screen: -h");
    report.say("  Input File:  -f <filename>");
    report.say("  List TRE Contents: -l");
    report.say("  List TRE Contents to file: -lf <listfile>");
    report.say("  Output File: -o <tre_filenum> <out_filename>");
    report.say("  Extract TRE Contents to folder: -x <folder>");
    report.say("  Only entries whose names match: -m <pattern>");
    report.say("  Show sizes and offsets in listings: -v");
    report.say("  Test TRE Contents: -t");
    report.say("  Listings as JSON lines: -j");
    report.say("  Write TRE_Filenum to standard output: -p <tre_filenum>");
    report.say("  Report problems only: -q");
}

const FlagSyntax* findFlag(const String& argument)
{
    const auto* found = std::find_if(flagSyntax.begin(), flagSyntax.end(),
                                     [&](const FlagSyntax& syntax) { return argument == syntax.text; });
    return found == flagSyntax.end() ? nullptr : found;
}

void applyFlag(Request& request, Flag flag, const char* const* values)
{
    switch (flag) {
    case Flag::help:
        ++request.helpScreens;
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
    case Flag::json:
        request.json = true;
        break;
    case Flag::print:
        request.printNumber = parseEntryNumber(values[0]);
        request.print = true;
        break;
    case Flag::quiet:
        request.quiet = true;
        break;
    case Flag::longHelp:
    case Flag::version:
        request.stoppedBy = flag;
        break;
    }
}

// Values are consumed and never examined as flags, even those of a flag
// that turns out incomplete; a later flag overrides an earlier one. The
// help screens of -h are only counted here: where they go depends on flags
// that may come after them.
Request scanArguments(std::span<const char* const> arguments)
{
    Request request;
    for (std::size_t i = 0; i < arguments.size() && !request.stoppedBy; ++i) {
        request.currentArg = arguments[i];
        const FlagSyntax* syntax = findFlag(request.currentArg);
        if (syntax == nullptr) {
            continue;
        }
        if (syntax->valueCount >= arguments.size() - i) {
            request.incomplete = syntax;
        } else {
            applyFlag(request, syntax->flag, arguments.data() + i + 1);
        }
        i += syntax->valueCount;
    }
    return request;
}

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where no file exists at the archive path, an empty one is created and
// read as an empty directory: the tool has always done so, and scripts may
// rely on it. The library itself never creates a file; this rule is the
// command line's own.
tre::Result<tre::Archive> openArchive(const String& path)
{
    const std::filesystem::path native = toNativePath(path.c_str());
    tre::Result<tre::Archive> archive = tre::Archive::open(native);
    if (!archive && archive.error().code == std::errc::no_such_file_or_directory && createFileIfMissing(native)) {
        archive = tre::Archive::open(native);
    }
    return archive;
}

// The actions after opening, in their fixed order; once standard output
// has failed, nothing more is done.
void runActions(const Request& request, const tre::Archive& archive, Report& report, std::ostream& out,
                const ConsoleInfo& console)
{
    Selection selection = request.havePattern ? Selection(request.pattern.c_str()) : Selection();
    const bool selecting = request.listToConsole || request.listToFile || request.test || request.extractAll;
    // (a directory that cannot be read to its end is said by each action)
    if (request.havePattern && selecting && !selection.findFirst(archive) && !selection.cutShort()) {
        report.fail("No entry matches (", request.pattern, ")");
    }
    // Bytes read from an archive that someone rewrites in place may mix both
    // versions: said once, after the first action that could notice.
    bool changeReported = false;
    const auto run = [&](bool asked, const auto& action) {
        if (!asked || !report.good() || !out.good()) {
            return;
        }
        action();
        if (!changeReported && archive.changedSinceOpened().value_or(false)) {
            report.fail("The archive changed while it was read");
            changeReported = true;
        }
    };
    const ListingStyle style{.verbose = request.verbose, .json = request.json};
    // JSON lines take standard output, unless the entry's bytes do
    const JsonOutput json =
        request.print ? JsonOutput{&report.stream(), report.terminal()} : JsonOutput{&out, console.outputIsTerminal};
    run(request.listToConsole, [&] { listToConsole(report, archive, selection, style, json); });
    run(request.listToFile, [&] { listToFile(report, archive, request.listPath, selection, style); });
    run(request.test, [&] { checkArchive(report, archive, selection); });
    run(request.extract, [&] { copyEntry(report, archive, request.entryNumber, request.outputPath); });
    run(request.print, [&] { printEntry(report, archive, request.printNumber, out); });
    run(request.extractAll, [&] {
        ProgressLine progress(request.quiet ? nullptr : console.progress);
        extractToFolder(report, archive, request.folderPath, selection, progress);
    });
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

int runCommandLine(std::span<const char* const> arguments, std::ostream& out, std::ostream& err,
                   const ConsoleInfo& console)
{
    Report standardOutput(out, Report::Style{.terminal = console.outputIsTerminal});
    if (arguments.size() < 2) {
        printHelp(standardOutput);
        return standardOutput.good() ? 0 : 1;
    }
    const Request request = scanArguments(arguments);
    // in a run with -j or -p, standard output carries their bytes only
    const bool scripted = request.json || request.print;
    Report report(scripted ? err : out,
                  Report::Style{.terminal = scripted ? console.errorIsTerminal : console.outputIsTerminal,
                                .quiet = request.quiet});
    for (int i = 0; i < request.helpScreens; ++i) {
        printHelp(report);
    }
    if (request.stoppedBy == Flag::longHelp) {
        printHelp(standardOutput);
        return standardOutput.good() ? 0 : 1;
    }
    if (request.stoppedBy == Flag::version) {
        standardOutput.say("tretool ", programVersion);
        return standardOutput.good() ? 0 : 1;
    }
    if (request.incomplete != nullptr) {
        report.fail(request.incomplete->text, " needs ", request.incomplete->valueUsage);
        return 1;
    }
    if (!request.haveInput) {
        report.fail("You must have an input file");
        return 1;
    }
    if (scripted && console.prepareDataOutput != nullptr) {
        console.prepareDataOutput();
    }
    const tre::Result<tre::Archive> archive = openArchive(request.inputPath);
    if (!archive) {
        report.failBecause(archive.error().code, "Cannot open archive (", request.inputPath, ")");
        return 1;
    }
    if (report.good()) {
        runActions(request, *archive, report, out, console);
    }
    return report.failed() || !report.good() || !out.good() ? 1 : 0;
}
