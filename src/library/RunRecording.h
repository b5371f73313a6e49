// How the station's runs reach its library: where the library file lives, a run that ended read
// from its journal into what the library records, and the operator's words for what went wrong
// with the library.
#pragma once

#include <string>

#include "library/LibraryStore.h"
#include "settings/FileError.h"

namespace kelvaro {

// The library beside the run journals, in the station's state folder.
std::string LibraryPathIn(const std::string& journalFolder);

// A run that ended as its journal keeps it (id, texts, calibration, raw readings), saved as
// `savedFile` (empty: not saved; its SHA-256 is taken from the file's bytes). Gives the journal's
// or the file's error when either cannot be read; `run` is then unchanged.
FileStatus RunFromJournal(const std::string& journalPath, const std::string& savedFile,
                          LibraryRun& run);

// Writes texts edited in the library into the journal of run `id` in `journalFolder`, so that a
// rebuild from the journals gives them back even when the library file is lost. Nothing to do
// (and no error) when that journal is gone or still being written.
FileStatus KeepMetadataInJournal(const std::string& journalFolder, const RunId& id,
                                 const RunMetadata& metadata);

// "A biblioteca de testes (<path>) ..." with why it cannot keep the tests: the operator's words
// for a LibraryStatus that is not Ok.
std::string LibraryStatusText(const LibraryStatus& status, const std::string& path);

// The operator's words for a copy of the library to `destination` that failed.
std::string LibraryBackupText(const LibraryStatus& status, const std::string& destination);

}  // namespace kelvaro
