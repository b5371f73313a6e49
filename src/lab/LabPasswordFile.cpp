#include "lab/LabPasswordFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kelvaro {
namespace {

// As libpq finds it: HOME first, the password database when HOME is unset.
std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

PasswordFileCheck CheckPasswordFile() {
    PasswordFileCheck check;
    const char* chosen = std::getenv("PGPASSFILE");
    check.path =
        chosen != nullptr && *chosen != '\0' ? std::string(chosen) : HomeFolder() + "/.pgpass";
    struct stat info {};
    if (stat(check.path.c_str(), &info) != 0) {
        check.error = errno;
        check.state =
            check.error == ENOENT ? PasswordFileState::Missing : PasswordFileState::Unreadable;
        return check;
    }
    check.mode = static_cast<unsigned>(info.st_mode) & 07777U;
    if (!S_ISREG(info.st_mode)) {
        check.state = PasswordFileState::NotAFile;
    } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        check.state = PasswordFileState::OpenToOthers;
    } else {
        check.state = PasswordFileState::Private;
    }
    return check;
}

}  // namespace kelvaro
