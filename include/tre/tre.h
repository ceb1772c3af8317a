#pragma once

// tre: reads TRE archives, single files that hold many stored files behind
// a directory at their start, and extracts their entries safely.
//
//     #include <tre/tre.h>
//
//     tre::Result<tre::Archive> archive = tre::Archive::open("data.tre");
//     if (!archive) {
//         std::cerr << archive.error().message() << '\n'; // "opening the archive: No such file or directory"
//         return 1;
//     }
//     tre::EntryWalk walk = archive->entries();
//     for (const tre::Entry& entry : walk) {
//         std::cout << entry.number << ": " << entry.name() << " (" << entry.size << " bytes)\n";
//     }
//     if (walk.error()) { /* the file shrank or could not be read */ }
//
//     tre::Result<tre::Entry> first = archive->entry(0);
//     if (first) {
//         tre::CopyResult copy = archive->copyToFile(*first, "first.bin");
//     }
//
// Headers: tre/Archive.h (opening, walking, reading and copying entries),
// tre/Check.h (what is damaged), tre/Pattern.h (glob patterns over names),
// tre/EntryPath.h (which names may become paths), tre/OutputFile.h (files
// written beside an archive without destroying it), tre/FolderExtraction.h
// (safe extraction into a folder), tre/Tree.h (the tree an extraction
// makes, in memory), tre/Error.h (errors and results) and tre/Version.h.
//
// Nothing in the library prints, exits or throws, but for std::bad_alloc.
// Everything is in namespace tre.

#include "tre/Archive.h"
#include "tre/Check.h"
#include "tre/EntryPath.h"
#include "tre/Error.h"
#include "tre/FolderExtraction.h"
#include "tre/OutputFile.h"
#include "tre/Pattern.h"
#include "tre/Tree.h"
#include "tre/Version.h"
#include "tre/Writer.h"
