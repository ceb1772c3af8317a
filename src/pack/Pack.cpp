#include "pack/Pack.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <unordered_map>

#include "pack/Inputs.h"
#include "pack/PackRequest.h"
#include "support/Console.h"
#include "support/ProgramVersion.h"
#include "support/Progress.h"
#include "tre/Archive.h"
#include "tre/Check.h"
#include "tre/Pattern.h"
#include "tre/Writer.h"

namespace {

constexpr int statusLeftOut = 1;
constexpr int statusUnusable = 2;

// Every line trepack prints to standard error, and what the run came to.
class Messages {
public:
    Messages(std::ostream& err, bool terminal, bool quiet) : err_(err), terminal_(terminal), quiet_(quiet) {}

    // A failure: something given did not go into the archive (status 1).
    template <typename... Pieces> void fail(const Pieces&... pieces)
    {
        failed_ = true;
        line(pieces...);
    }
    // A note that -q leaves out.
    template <typename... Pieces> void note(const Pieces&... pieces)
    {
        if (!quiet_) {
            line(pieces...);
        }
    }
    [[nodiscard]] std::string shown(std::string_view text) const { return terminalSafe(text, terminal_); }
    [[nodiscard]] bool failed() const { return failed_; }
    void setProgress(ProgressLine* progress) { progress_ = progress; }

private:
    template <typename... Pieces> void line(const Pieces&... pieces)
    {
        if (progress_ != nullptr) {
            progress_->erase();
        }
        ((err_ << "trepack: ") << ... << pieces) << '\n' << std::flush;
    }

    std::ostream& err_;
    bool terminal_;
    bool quiet_;
    bool failed_ = false;
    ProgressLine* progress_ = nullptr;
};

// The PATHs of the -T lists, one a line (or NUL-separated), each with the
// folder in effect where its list was given. False where a list cannot be read.
bool readLists(const PackRequest& request, const PackConsole& console, Messages& messages,
               std::vector<PathArgument>& paths)
{
    for (const ListArgument& list : request.lists) {
        std::ifstream file;
        std::istream* in = console.input;
        if (list.file != "-") {
            file.open(toNativePath(list.file.c_str()), std::ios::binary);
            in = &file;
        }
        if (in == nullptr || !*in) {
            messages.fail("cannot read (", messages.shown(list.file), "): No such file or directory");
            return false;
        }
        const char separator = request.nullSeparated ? '\0' : '\n';
        for (std::string line; std::getline(*in, line, separator);) {
            if (!request.nullSeparated && !line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                paths.push_back({list.folder, line});
            }
        }
        if (in->bad()) {
            messages.fail("cannot read (", messages.shown(list.file), "): Input/output error");
            return false;
        }
    }
    return true;
}

std::string leftOutMessage(LeftOut why)
{
    switch (why) {
    case LeftOut::link:
        return " is a symbolic link: left out (-L follows links)";
    case LeftOut::special:
        return " is a FIFO, a socket or a device: left out";
    case LeftOut::loop:
        return " leads back to a folder it lies in: left out";
    case LeftOut::theArchive:
        return " is the archive being written: left out";
    case LeftOut::unreadable:
        break;
    }
    return "";
}

// The plan and what the messages need to name each of its entries.
struct Plan {
    tre::ArchivePlan archive;
    // for each entry, the input file it comes from; none for an old entry
    static constexpr std::size_t oldEntry = static_cast<std::size_t>(-1);
    std::vector<std::size_t> fileOf;
    // old entries whose bytes are not all in the old archive, and not replaced
    std::map<std::size_t, tre::EntryFault> damaged;
};

class Packer {
public:
    Packer(const PackRequest& request, std::ostream& out, std::ostream& err, const PackConsole& console)
        : request_(request), out_(out), err_(err), console_(console),
          messages_(err, console.errorIsTerminal, request.quiet)
    {
        for (const std::string& glob : request.excludes) {
            excludes_.emplace_back(glob);
        }
    }

    int run()
    {
        std::vector<PathArgument> paths = request_.paths;
        if (!readLists(request_, console_, messages_, paths)) {
            return statusLeftOut;
        }
        for (const PathArgument& path : paths) {
            if (const std::optional<std::string> refused = refusedPath(path.path)) {
                messages_.fail(messages_.shown(*refused));
                return statusUnusable;
            }
        }
        std::optional<tre::Archive> base;
        if (request_.base) {
            tre::Result<tre::Archive> opened = tre::Archive::open(toNativePath(request_.base->c_str()));
            if (!opened) {
                messages_.fail("cannot read (", messages_.shown(*request_.base), "): ", opened.error().code.message());
                return statusLeftOut;
            }
            base = std::move(*opened);
        }
        files_ = walk(paths);
        const std::vector<InputFile>& files = files_;
        Plan plan;
        bool refused = refusedInputs_;
        if (base && !planBase(*base, plan)) {
            refused = true;
        }
        refused = !planFiles(files, plan) || refused;
        const tre::PlanCheck check = plan.archive.check();
        refused = !reportProblems(check, plan) || refused;
        if (refused) {
            messages_.fail("nothing was written",
                           request_.output == "-" ? "" : " (" + shownOutput() + " is unchanged)");
            return statusLeftOut;
        }
        reportDamaged(plan);
        if (request_.dryRun) {
            list(plan);
        } else if (!write(plan)) {
            return statusLeftOut;
        }
        return messages_.failed() ? statusLeftOut : 0;
    }

private:
    [[nodiscard]] bool excluded(std::string_view name) const
    {
        return std::any_of(excludes_.begin(), excludes_.end(),
                           [&](const tre::Pattern& pattern) { return pattern.matches(name); });
    }

    [[nodiscard]] std::string shownOutput() const { return messages_.shown(request_.output); }

    std::vector<InputFile> walk(const std::vector<PathArgument>& paths)
    {
        std::optional<ItemIdentity> output;
        if (request_.output != "-") {
            ItemKind kind = ItemKind::other;
            ItemIdentity identity;
            if (!lookAtPath(toNativePath(request_.output.c_str()), true, kind, identity) && kind == ItemKind::file) {
                output = identity;
            }
        }
        walk_.emplace(request_.followLinks, output,
                      WalkReport{[this](LeftOut why, const std::string& shown, const std::error_code& reason) {
                          if (why == LeftOut::unreadable) {
                              messages_.fail("cannot read (", messages_.shown(shown), "): ", reason.message());
                              refusedInputs_ = true;
                          } else if (why == LeftOut::theArchive) {
                              messages_.note(messages_.shown(shown), leftOutMessage(why));
                          } else {
                              messages_.fail(messages_.shown(shown), leftOutMessage(why));
                          }
                      }});
        for (const PathArgument& path : paths) {
            walk_->add(path);
        }
        std::vector<InputFile> files = walk_->takeFiles();
        std::erase_if(files, [this](const InputFile& file) { return excluded(file.name); });
        return files;
    }

    // OLD's entries in its order, but those excluded. False where its
    // directory cannot be read to its end.
    bool planBase(const tre::Archive& base, Plan& plan)
    {
        plan.archive.setHeaderWord(request_.headerWord.value_or(base.headerWord()));
        plan.archive.reserve(static_cast<std::size_t>(base.entryCount()));
        plan.fileOf.reserve(static_cast<std::size_t>(base.entryCount()));
        baseNumbers_.reserve(static_cast<std::size_t>(base.entryCount()));
        tre::EntryWalk walk = base.entries();
        tre::Entry entry;
        while (walk.next(entry)) {
            if (excluded(entry.name())) {
                continue;
            }
            const std::size_t index = plan.archive.addEntry(base, entry);
            plan.fileOf.push_back(Plan::oldEntry);
            if (const tre::EntryFault fault = tre::checkEntry(base, entry); fault != tre::EntryFault::none) {
                plan.damaged[index] = fault;
            }
            baseNumbers_.push_back(entry.number);
        }
        if (walk.error()) {
            messages_.fail("cannot read (", messages_.shown(*request_.base), "): only ", walk.recordsRead(), " of ",
                           base.entryCount(), " directory records could be read: ", walk.error().message());
            return false;
        }
        return true;
    }

    // Files replace the old entries of their names, in place; the others are
    // appended in byte order. False where two files give one name.
    bool planFiles(const std::vector<InputFile>& files, Plan& plan)
    {
        if (!request_.base) {
            plan.archive.setHeaderWord(request_.headerWord.value_or(tre::ArchivePlan::defaultHeaderWord));
        }
        bool distinct = true;
        // the files by name (sorted already): each name once
        std::unordered_map<std::string_view, std::size_t> byName;
        byName.reserve(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (i > 0 && files[i - 1].name == files[i].name) {
                messages_.fail("two inputs give the name ", messages_.shown(files[i].name), ": ",
                               messages_.shown(walk_->shownOf(files[i - 1])), " and ",
                               messages_.shown(walk_->shownOf(files[i])));
                distinct = false;
            } else {
                byName.emplace(files[i].name, i);
            }
        }
        // an old entry of a file's name gets its bytes, the last of a name
        // (the one an extraction leaves) where there are several
        std::vector<bool> placed(files.size());
        for (std::size_t index = plan.fileOf.size(); index-- > 0 && !byName.empty();) {
            const auto file = byName.find(plan.archive.name(index));
            if (file != byName.end()) {
                plan.archive.replaceWithFile(index, walk_->pathOf(files[file->second]));
                plan.fileOf[index] = file->second;
                plan.damaged.erase(index);
                placed[file->second] = true;
                byName.erase(file);
            }
        }
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (!placed[i] && (i == 0 || files[i - 1].name != files[i].name)) {
                plan.archive.addFile(files[i].name, walk_->pathOf(files[i]), request_.prefixByte.value_or(0));
                plan.fileOf.push_back(i);
            }
        }
        return distinct;
    }

    // An old entry as messages name it.
    [[nodiscard]] std::string oldEntry(const Plan& plan, std::size_t index) const
    {
        return "entry " + std::to_string(baseNumbers_[index]) + " (" + messages_.shown(plan.archive.name(index)) +
               ") of " + messages_.shown(request_.base.value_or(""));
    }

    [[nodiscard]] std::string whatIs(const Plan& plan, std::size_t index) const
    {
        return plan.fileOf[index] == Plan::oldEntry ? oldEntry(plan, index)
                                                    : messages_.shown(walk_->shownOf(files_[plan.fileOf[index]]));
    }

    // Every problem the check found, named; false where there was any.
    bool reportProblems(const tre::PlanCheck& check, const Plan& plan)
    {
        for (const tre::PlanProblem& problem : check.problems) {
            const std::error_code& code = problem.error.code;
            if (problem.entry == tre::PlanProblem::wholeArchive) {
                if (plan.archive.entryCount() > static_cast<std::size_t>(tre::ArchivePlan::sizeLimit)) {
                    messages_.fail("the archive would hold ", problem.size, " entries; it can hold at most ",
                                   tre::ArchivePlan::sizeLimit);
                } else {
                    messages_.fail("the archive would take ", problem.size, " bytes; it can hold at most ",
                                   tre::ArchivePlan::sizeLimit);
                }
                continue;
            }
            const std::string what = whatIs(plan, problem.entry);
            if (code == tre::Errc::nameTooLong) {
                messages_.fail("the name of ", what, " is ", problem.size, " bytes long; a name holds at most 64");
            } else if (code == tre::Errc::nameHoldsNul) {
                messages_.fail("the name of ", what, " holds a NUL byte");
            } else if (code == tre::Errc::entryTooLarge) {
                messages_.fail(what, " is ", problem.size, " bytes; an entry holds at most ",
                               tre::ArchivePlan::sizeLimit);
            } else {
                messages_.fail("cannot read (", what, "): ", code.message());
            }
        }
        return check.ok();
    }

    void reportDamaged(const Plan& plan)
    {
        for (const auto& [index, fault] : plan.damaged) {
            messages_.fail(oldEntry(plan, index), " ", tre::describe(fault), ": it goes in with the ",
                           plan.archive.size(index), " bytes the archive holds of it");
        }
    }

    // --dry-run: what the archive would hold, as tretool -l -v would list it.
    void list(const Plan& plan)
    {
        const std::size_t count = plan.archive.entryCount();
        std::int64_t offset = tre::Archive::headerSize + static_cast<std::int64_t>(count) * tre::Archive::recordSize;
        for (std::size_t index = 0; index < count; ++index) {
            const std::int64_t size = plan.archive.size(index);
            out_ << index << ": " << terminalSafe(plan.archive.name(index), console_.outputIsTerminal) << " (" << size
                 << " bytes at offset " << offset << ")\n";
            offset += size;
        }
        out_.flush();
    }

    bool write(Plan& plan)
    {
        const bool toStandardOutput = request_.output == "-";
        // the names of -v go where the archive does not
        std::ostream& names = toStandardOutput ? err_ : out_;
        const bool namesOnTerminal = toStandardOutput ? console_.errorIsTerminal : console_.outputIsTerminal;
        ProgressLine progress(request_.quiet ? nullptr : console_.progress, "Packing");
        messages_.setProgress(&progress);
        std::size_t current = 0;
        std::size_t printed = 0;
        // (entries that lie together in an old archive are copied at once: all their names are said)
        const auto printNamesUpTo = [&](std::size_t end) {
            for (; request_.verbose && printed < end; ++printed) {
                progress.erase();
                names << terminalSafe(plan.archive.name(printed), namesOnTerminal) << '\n';
            }
        };
        tre::WriteOptions options;
        options.progress = [&](const tre::WriteProgress& at) {
            printNamesUpTo(at.entry + 1);
            current = at.entry;
            progress.update(static_cast<std::int64_t>(at.entriesDone), at.bytesDone);
            return console_.stop == nullptr || !console_.stop->load();
        };
        tre::Result<std::int64_t> written = tre::Error{};
        if (toStandardOutput) {
            if (console_.prepareDataOutput != nullptr) {
                console_.prepareDataOutput();
            }
            written = tre::writeArchive(
                plan.archive,
                [this](std::span<const char> bytes) {
                    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                    return out_.good() ? std::error_code() : std::make_error_code(std::errc::io_error);
                },
                options);
            out_.flush();
        } else {
            written = tre::writeArchive(plan.archive, toNativePath(request_.output.c_str()), options);
        }
        if (written) {
            printNamesUpTo(plan.archive.entryCount());
        }
        progress.erase();
        messages_.setProgress(nullptr);
        names.flush();
        if (written) {
            return true;
        }
        reportWriteFailure(plan, written.error(), current);
        return false;
    }

    void reportWriteFailure(const Plan& plan, const tre::Error& error, std::size_t current)
    {
        const std::string what = whatIs(plan, current);
        const std::string outcome = request_.output == "-" ? "the archive is cut short"
                                                           : "nothing was written (" + shownOutput() + " is unchanged)";
        if (error.code == std::errc::operation_canceled) {
            messages_.fail("stopped: ", outcome);
        } else if (error.step == tre::Step::readFile && error.code == tre::Errc::changedWhileRead) {
            messages_.fail(what, " changed while it was read: ", outcome);
        } else if (error.step == tre::Step::readFile) {
            messages_.fail("cannot read (", what, "): ", error.code.message(), ": ", outcome);
        } else {
            messages_.fail("cannot write (", shownOutput(), "): ", error.code.message());
        }
    }

    const PackRequest& request_;
    std::ostream& out_;
    std::ostream& err_;
    const PackConsole& console_;
    Messages messages_;
    std::vector<tre::Pattern> excludes_;
    std::optional<InputWalk> walk_;
    std::vector<InputFile> files_;
    std::vector<std::int32_t> baseNumbers_;
    bool refusedInputs_ = false;
};

} // namespace

int runPack(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, const PackConsole& console)
{
    const ParsedRequest parsed = parsePackArguments(arguments);
    const PackRequest& request = parsed.request;
    if (!parsed.problem.empty()) {
        err << "trepack: " << terminalSafe(parsed.problem, console.errorIsTerminal) << '\n' << packUsage << std::flush;
        return statusUnusable;
    }
    if (request.help) {
        out << packUsage << '\n' << packHelp << std::flush;
        return out ? 0 : 1;
    }
    if (request.version) {
        out << "trepack " << programVersion << '\n' << std::flush;
        return out ? 0 : 1;
    }
    if (request.output == "-" && console.outputIsTerminal && !request.dryRun) {
        err << "trepack: an archive is no text for a terminal: give -f FILE, or send standard output elsewhere\n"
            << std::flush;
        return statusUnusable;
    }
    return Packer(request, out, err, console).run();
}
