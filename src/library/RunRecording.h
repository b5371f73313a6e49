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

// "A biblioteca de testes (<path>) ..." with why it cannot keep the tests: the operator's words
// for a LibraryStatus that is not Ok.
std::string LibraryStatusText(const LibraryStatus& status, const std::string& path);

// The operator's words for a copy of the library to `destination` that failed.
std::string LibraryBackupText(const LibraryStatus& status, const std::string& destination);

}  // namespace kelvaro
