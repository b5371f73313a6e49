// Opening a file to read without ever waiting on it: a FIFO, socket or device standing where a
// file should be is refused at once instead of holding the station in open() or read().
#pragma once

#include <cstdint>
#include <string>

namespace kelvaro {

// The error for anything but a regular file; no errno value is negative.
inline constexpr int kNotARegularFile = -1;

// A regular file open for reading, closed when this goes.
class RegularFile {
  public:
    // Opens without blocking, refuses what is not a regular file, then reads block as usual.
    explicit RegularFile(const std::string& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // 0 when open; else the errno, EISDIR for a folder, or kNotARegularFile.
    int Error() const { return error_; }
    int Descriptor() const { return fd_; }
    // The size when it was opened.
    std::uint64_t Size() const { return size_; }
    // Reads up to `size` bytes, retrying EINTR: the count read (0 at the end), or -errno.
    long Read(char* into, std::size_t size) const;

  private:
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace kelvaro
