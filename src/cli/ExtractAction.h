#pragma once

#include "cli/Report.h"
#include "cli/Selection.h"
#include "cli/String.h"
#include "support/Progress.h"
#include "tre/Archive.h"

// -x: extracts every selected entry into `folder` (tre::FolderExtraction
// says under which rules), in entry-number order, by its stored name, each
// with the report lines of -o. Entries skipped for their name, for a link
// or for the archive get their message; a full disk ends the run. Last
// line: "Extracted K of M entries (B bytes) to folder (FOLDER).".
void extractToFolder(Report& report, const tre::Archive& archive, const String& folder, const Selection& selection,
                     ProgressLine& progress);
