// The journal library's own file helpers: the header's encoding and checks, whole reads and
// writes, an owned descriptor. Not for use outside src/journal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "journal/Journal.h"
#include "journal/RunMetadata.h"
#include "settings/FileError.h"

namespace kelvaro::journal {

// The header the writer writes, and the one of versions 1 and 2.
inline constexpr std::size_t kHeaderSize = 16384;
inline constexpr std::size_t kOldHeaderSize = 4096;
inline constexpr std::size_t kRecordSize = 16;
inline constexpr std::size_t kTextBytes = 256;  // a port or unit field, NUL included
// The fields rewritten after the start: test number, state, zero, count.
inline constexpr std::size_t kRewrittenOffset = 40;
inline constexpr std::size_t kRewrittenSize = 24;
inline constexpr const char* kExtension = ".kjr";
// The version the writer writes; the reader takes it and every earlier one.
inline constexpr std::uint32_t kJournalVersion = 3;
// The run's texts (version 3), rewritten in place when they are edited after the run.
inline constexpr std::size_t kMetadataOffset = 2232;
inline constexpr std::size_t kEvaluatedBytes = 4 * kEvaluatedMaxChars;
inline constexpr std::size_t kProtocolBytes = 4 * kProtocolMaxChars;
inline constexpr std::size_t kNotesBytes = 4 * kNotesMaxChars;
inline constexpr std::size_t kMetadataSize = kEvaluatedBytes + kProtocolBytes + kNotesBytes;

// Where the records of a journal of `version` start.
constexpr std::size_t HeaderSizeOf(std::uint32_t version) {
    return version >= 3 ? kHeaderSize : kOldHeaderSize;
}

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset();

  private:
    int fd_ = -1;
};

using HeaderBytes = std::array<unsigned char, kHeaderSize>;

// Whether `bytes` begin with the journal's magic.
bool StartsWithMagic(const unsigned char* bytes, std::size_t size);

HeaderBytes EncodeHeader(const JournalDescription& description);
// The run's texts as they go at kMetadataOffset, each cut to its limit at a code point (and at a
// NUL, which a field cannot hold).
std::array<unsigned char, kMetadataSize> EncodeMetadata(const RunMetadata& metadata);
// The rewritten fields as they go at kRewrittenOffset.
std::array<unsigned char, kRewrittenSize> EncodeRewritten(std::int64_t testNumber,
                                                          JournalState state,
                                                          std::uint64_t closedCount);
// Records as the file holds them, and back.
void EncodeRecords(std::span<const RawRecord> records, std::vector<unsigned char>& bytes);
void DecodeRecords(const unsigned char* bytes, std::size_t count, std::vector<RawRecord>& records);
// Decodes `size` bytes read from the start of a file `fileSize` bytes long. Gives what is wrong
// with it, if anything (neither operation nor path set).
std::optional<FileError> DecodeHeader(const unsigned char* bytes, std::size_t size,
                                      std::uint64_t fileSize, JournalDescription& description);
// Reads and decodes the header of the file open as `fd`; `recordCount` is its whole records.
// A header of an earlier version is read from its shorter size.
// Gives what is wrong, as DecodeHeader.
std::optional<FileError> ReadHeader(int fd, JournalDescription& description,
                                    std::uint64_t& recordCount);
// Opens `path` with `flags` into `fd` without waiting (O_NONBLOCK) and keeps it only when it is a
// regular file. Gives what is wrong, as DecodeHeader.
std::optional<FileError> OpenRegularFile(const std::string& path, int flags, UniqueFd& fd);
// Opens the journal at `path` with `flags` into `fd` (OpenRegularFile) and reads its header, as
// ReadHeader.
std::optional<FileError> OpenJournal(const std::string& path, int flags, UniqueFd& fd,
                                     JournalDescription& description, std::uint64_t& recordCount);

// Writes all of `size` bytes at `offset`, retrying short writes and EINTR. 0 or the errno.
int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads up to `size` bytes at `offset` into `data`, `got` of them before the end of the file.
// 0 or the errno.
int ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset, std::size_t& got);

}  // namespace kelvaro::journal
