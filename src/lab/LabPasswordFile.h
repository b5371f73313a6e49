// Where libpq looks for the station's password (PGPASSFILE, or ~/.pgpass) and whether it will
// use that file: it skips one that its group or others may read, without a word to anyone.
#pragma once

#include <string>

namespace kelvaro {

enum class PasswordFileState {
    Private,       // a regular file only its owner may read or write: libpq reads it
    Missing,       // ENOENT
    OpenToOthers,  // group or other permission bits set: libpq ignores it
    NotAFile,      // a folder or a device where the file should be
    Unreadable,    // stat failed otherwise (`error` says how)
};

struct PasswordFileCheck {
    std::string path;
    PasswordFileState state = PasswordFileState::Missing;
    unsigned mode = 0;  // the permission bits, when found
    int error = 0;      // errno of a failed stat
};

// The file libpq would read now: PGPASSFILE when set, else .pgpass in HOME (or the account's
// home folder). Stats the disk: never on the window's thread.
PasswordFileCheck CheckPasswordFile();

}  // namespace kelvaro
