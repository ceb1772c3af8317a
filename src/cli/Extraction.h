#pragma once

#include <cstdint>
#include <ostream>

#include "archive/TreArchive.h"
#include "support/String.h"

// Copies entry `entryNumber` into the file at outputPath, reporting on `out`
// what it copies. Returns false when it printed an "Exit Message" line (the
// output file could not be written, or the entry could not be read whole);
// an entry number out of range is reported but is not a failure.
bool extractEntry(std::ostream& out, const TreArchive& archive, std::int32_t entryNumber, const String& outputPath);
