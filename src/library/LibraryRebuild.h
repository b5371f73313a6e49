// Making the library again from what the station keeps outside it: the run journals (ids,
// texts, calibration, raw readings) and the test files of the export folder, with what the old
// file can still tell (station id, texts edited in the library, files saved or imported
// elsewhere). The old file is never deleted: it is put aside under a dated name once the new
// one is whole. No widgets.
#pragma once

#include <string>
#include <vector>

#include "library/LibraryStore.h"
#include "settings/FileError.h"

namespace kelvaro {

struct LibraryRebuildSources {
    std::string journalFolder;
    std::string exportFolder;  // its *.csv files are imported; empty: none
    // A library of a newer schema is put aside only when the operator agreed to it.
    bool setNewerSchemaAside = false;
};

struct LibraryRebuildReport {
    // Ok: the new library is in place. Busy: another process has the library open; NewerSchema:
    // the library is of a newer schema and setNewerSchemaAside was not given. Anything but Ok:
    // the library file was left where and as it was.
    LibraryStatus status;
    std::string keptAside;  // where the old file went; empty when there was none
    int runsFromJournals = 0;
    int savedFilesFound = 0;    // runs from journals whose saved test file was found
    int filesImported = 0;      // the export folder's, and those the old library had imported
    int filesAlreadyThere = 0;  // the bytes of a run already recorded
    std::vector<FileError> unreadableJournals;  // each naming its journal
    std::vector<FileError> refusedFiles;        // each naming its file
};

// Rebuilds the library at `libraryPath` through `store`, which must be the only connection of
// this process to it (the LibraryWorker's); afterwards `store` holds the library at
// `libraryPath`, the new one or, when the rebuild was refused or failed, the old one again.
LibraryRebuildReport RebuildLibrary(LibraryStore& store, const std::string& libraryPath,
                                    const LibraryRebuildSources& sources);

// The name the old library gets beside the new one: "<name>-antiga-AAAA-MM-DD_HH-MM-SS.sqlite"
// from the local time `when`, "-2", "-3", ... added when that name is taken.
std::string AsideLibraryPath(const std::string& libraryPath,
                             std::chrono::system_clock::time_point when);

}  // namespace kelvaro
