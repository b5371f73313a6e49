#include "settings/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kelvaro {

bool PrivateFolder(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace kelvaro
