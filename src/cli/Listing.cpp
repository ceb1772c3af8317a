#include "cli/Listing.h"

#include <fstream>

#include "cli/Output.h"
#include "support/File.h"

void listDirectory(std::ostream& out, const TreArchive& archive)
{
    for (std::int32_t entryNumber = 0; entryNumber < archive.entryCount(); ++entryNumber) {
        writeLine(out, entryNumber, ": ", archive.entryName(entryNumber));
    }
}

bool writeListFile(const TreArchive& archive, const String& listPath)
{
    // text mode: the list file gets the platform's own line ends
    std::ofstream file(toNativePath(listPath), std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        return false;
    }
    listDirectory(file, archive);
    // a failed write or flush leaves badbit set; a failed close sets failbit
    file.close();
    return !file.fail();
}
