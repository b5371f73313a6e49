// Regular files opened for reading: see RegularFile.h.
#include "settings/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelvaro {

RegularFile::RegularFile(const std::string& path) {
    // O_NONBLOCK: a FIFO without a writer, or a serial line waiting for its carrier, would hold
    // a blocking open() for as long as they like.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        error_ = errno;
        // A socket, or a device without its driver, cannot be opened at all.
        struct stat info {};
        if ((error_ == ENXIO || error_ == ENODEV) && ::stat(path.c_str(), &info) == 0 &&
            !S_ISREG(info.st_mode)) {
            error_ = kNotARegularFile;
        }
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error_ = errno;
    } else if (S_ISDIR(info.st_mode)) {
        error_ = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        error_ = kNotARegularFile;
    } else {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            error_ = errno;
        }
        size_ = static_cast<std::uint64_t>(info.st_size);
    }
    if (error_ != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

long RegularFile::Read(char* into, std::size_t size) const {
    for (;;) {
        const ssize_t n = ::read(fd_, into, size);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno != EINTR) {
            return -errno;
        }
    }
}

}  // namespace kelvaro
