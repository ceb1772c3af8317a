// A program outside the project, built against the installed library: it
// makes an archive of a few buffers of its own and one file named on the
// command line, checks the plan against the format's limits, writes it, and
// reads it back.
// Usage: make_archive <new archive> [<file to add>]
#include <iostream>
#include <span>
#include <string>

#include <tre/tre.h>

int main(int argc, char* argv[])
{
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: make_archive <new archive> [<file to add>]\n";
        return 2;
    }
    const std::string readme = "Made by make_archive.\n";
    const std::string settings = "volume=7\nlanguage=en\n";
    tre::ArchivePlan plan;
    plan.addBytes("readme.txt", std::as_bytes(std::span(readme)));
    plan.addBytes("config/settings.ini", std::as_bytes(std::span(settings)), 1);
    if (argc == 3) {
        plan.addFile("data/added.bin", argv[2]);
    }
    const tre::PlanCheck check = plan.check();
    for (const tre::PlanProblem& problem : check.problems) {
        const std::string_view name =
            problem.entry == tre::PlanProblem::wholeArchive ? "the archive" : plan.name(problem.entry);
        std::cerr << name << ": " << problem.error.message() << '\n';
    }
    if (!check.ok()) {
        return 1;
    }
    const tre::Result<std::int64_t> written = tre::writeArchive(plan, argv[1]);
    if (!written) {
        std::cerr << argv[1] << ": " << written.error().message() << '\n';
        return 1;
    }
    std::cout << "wrote " << *written << " bytes\n";
    tre::Result<tre::Archive> archive = tre::Archive::open(argv[1]);
    if (!archive) {
        std::cerr << argv[1] << ": " << archive.error().message() << '\n';
        return 1;
    }
    const tre::Result<tre::Entry> entry = archive->findEntry("config/settings.ini");
    const tre::Result<std::string> text = entry ? archive->readString(*entry) : tre::Result<std::string>(entry.error());
    if (!text) {
        std::cerr << "config/settings.ini: " << text.error().message() << '\n';
        return 1;
    }
    std::cout << "config/settings.ini holds " << text->size() << " bytes: " << *text;
    return 0;
}
