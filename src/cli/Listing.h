#pragma once

#include <ostream>

#include "archive/TreArchive.h"
#include "support/String.h"

// One line "N: name" per entry, in entry-number order.
void listDirectory(std::ostream& out, const TreArchive& archive);

// Creates or truncates the text file at listPath and lists the directory
// into it; false when the file could not be created or fully written.
bool writeListFile(const TreArchive& archive, const String& listPath);
