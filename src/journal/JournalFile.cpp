// The journal header's encoding and the checks a header read back must pass.
#include "journal/JournalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <tuple>

#include "settings/RegularFile.h"
#include "settings/StoredBounds.h"

namespace kelvaro::journal {

namespace {

constexpr std::string_view kMagic = "KELVJRNL";
constexpr std::size_t kCalibrationOffset = 64;
constexpr std::size_t kPortsOffset = 160;
constexpr std::size_t kUnitsOffset = kPortsOffset + kPlateCount * kTextBytes;
constexpr std::size_t kSequenceOffset = kUnitsOffset + kPlateCount * kTextBytes;
constexpr std::size_t kRunIdOffset = kSequenceOffset + 8;
static_assert(kMetadataOffset == kRunIdOffset + sizeof(RunId));
// Where the fields of each version end.
constexpr std::size_t kFieldsEnd1 = kSequenceOffset;
constexpr std::size_t kFieldsEnd2 = kSequenceOffset + 8;
constexpr std::size_t kFieldsEnd3 = kMetadataOffset + kMetadataSize;
static_assert(kFieldsEnd2 <= kOldHeaderSize && kFieldsEnd3 <= kHeaderSize);
// The records stay page-aligned.
static_assert(kHeaderSize % 4096 == 0);

// A version not known yet is told as such, whatever its size.
constexpr std::size_t FieldsEnd(std::uint32_t version) {
    return version == 3 ? kFieldsEnd3 : version == 2 ? kFieldsEnd2 : kFieldsEnd1;
}

// The run's texts, in the order they follow one another from kMetadataOffset. Each field has
// room for its limit at four bytes a code point, so a text at its limit fills it without a NUL.
struct MetadataField {
    std::string RunMetadata::*text;
    std::size_t bytes;
    std::size_t maxChars;
};
constexpr std::array<MetadataField, 3> kMetadataFields{{
    {&RunMetadata::evaluated, kEvaluatedBytes, kEvaluatedMaxChars},
    {&RunMetadata::protocol, kProtocolBytes, kProtocolMaxChars},
    {&RunMetadata::notes, kNotesBytes, kNotesMaxChars},
}};

// `text` as its field keeps it: up to a NUL, at most `maxChars` code points, and never more
// bytes than the field has (a byte that starts no code point may follow a lead byte at length).
std::string_view FieldText(std::string_view text, std::size_t maxChars, std::size_t bytes,
                           std::string& cut) {
    cut = CutToCodePoints(text.substr(0, text.find('\0')), maxChars);
    std::size_t size = std::min(cut.size(), bytes);
    while (size < cut.size() && size > 0 &&
           (static_cast<unsigned char>(cut[size]) & 0xC0) == 0x80) {
        --size;
    }
    return std::string_view(cut).substr(0, size);
}
// A sequence no folder reaches, so the next one never wraps.
constexpr std::uint64_t kMaxSequence = std::uint64_t{1} << 62;

template <typename T>
void Put(unsigned char* at, T value) {
    using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
    const auto bits = std::bit_cast<Bits>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

template <typename T>
T Get(const unsigned char* at) {
    using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<Bits>(Bits{at[i]} << (8 * i));
    }
    return std::bit_cast<T>(bits);
}

FileError PlateDamage(FileErrorKind kind, std::size_t index) {
    FileError e = ContentFileError(kind);
    e.plate = static_cast<int>(index + 1);
    return e;
}

std::uint64_t TwosComplement(std::int64_t value) {
    return static_cast<std::uint64_t>(value);
}

}  // namespace

HeaderBytes EncodeHeader(const JournalDescription& description) {
    HeaderBytes bytes{};
    std::memcpy(bytes.data(), kMagic.data(), kMagic.size());
    Put(&bytes[8], kJournalVersion);
    Put(&bytes[12], static_cast<std::uint32_t>(kHeaderSize));
    Put(&bytes[16], static_cast<std::uint32_t>(kRecordSize));
    Put(&bytes[20], static_cast<std::uint32_t>(kPlateCount));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(description.start.time_since_epoch());
    Put(&bytes[24], static_cast<std::int64_t>(ms.count()));
    Put(&bytes[32], description.frequency);
    std::uint32_t active = 0;
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        const JournalPlate& plate = description.plates[i];
        active |= plate.active ? 1U << i : 0U;
        unsigned char* calibration = &bytes[kCalibrationOffset + i * 24];
        Put(calibration, plate.calibration.zeroOffset);
        Put(calibration + 8, plate.calibration.index);
        Put(calibration + 16, plate.calibration.tare);
        // Open has refused texts that do not fit with their NUL.
        std::memcpy(&bytes[kPortsOffset + i * kTextBytes], plate.port.data(),
                    std::min(plate.port.size(), kTextBytes - 1));
        std::memcpy(&bytes[kUnitsOffset + i * kTextBytes], plate.unit.data(),
                    std::min(plate.unit.size(), kTextBytes - 1));
    }
    Put(&bytes[36], active);
    Put(&bytes[kSequenceOffset], description.sequence);
    std::memcpy(&bytes[kRunIdOffset], description.runId.data(), description.runId.size());
    const auto metadata = EncodeMetadata(description.metadata);
    std::memcpy(&bytes[kMetadataOffset], metadata.data(), metadata.size());
    const auto rewritten =
        EncodeRewritten(description.testNumber, description.state, description.closedCount);
    std::memcpy(&bytes[kRewrittenOffset], rewritten.data(), rewritten.size());
    return bytes;
}

std::array<unsigned char, kMetadataSize> EncodeMetadata(const RunMetadata& metadata) {
    std::array<unsigned char, kMetadataSize> bytes{};
    std::size_t at = 0;
    std::string cut;
    for (const MetadataField& field : kMetadataFields) {
        const std::string_view text =
            FieldText(metadata.*field.text, field.maxChars, field.bytes, cut);
        std::memcpy(&bytes[at], text.data(), text.size());
        at += field.bytes;
    }
    return bytes;
}

std::array<unsigned char, kRewrittenSize> EncodeRewritten(std::int64_t testNumber,
                                                          JournalState state,
                                                          std::uint64_t closedCount) {
    std::array<unsigned char, kRewrittenSize> bytes{};
    Put(&bytes[0], testNumber);
    Put(&bytes[8], static_cast<std::uint32_t>(state));
    Put(&bytes[16], closedCount);
    return bytes;
}

void EncodeRecords(std::span<const RawRecord> records, std::vector<unsigned char>& bytes) {
    bytes.resize(records.size() * kRecordSize);
    unsigned char* at = bytes.data();
    for (const RawRecord& record : records) {
        for (const RawReading reading : record) {
            Put(at, reading);
            at += sizeof reading;
        }
    }
}

void DecodeRecords(const unsigned char* bytes, std::size_t count, std::vector<RawRecord>& records) {
    records.resize(count);
    for (RawRecord& record : records) {
        for (RawReading& reading : record) {
            reading = Get<RawReading>(bytes);
            bytes += sizeof reading;
        }
    }
}

bool StartsWithMagic(const unsigned char* bytes, std::size_t size) {
    return size >= kMagic.size() && std::memcmp(bytes, kMagic.data(), kMagic.size()) == 0;
}

std::optional<FileError> DecodeHeader(const unsigned char* bytes, std::size_t size,
                                      std::uint64_t fileSize, JournalDescription& description) {
    if (!StartsWithMagic(bytes, size)) {
        return ContentFileError(FileErrorKind::NotAJournal);
    }
    const auto version = size >= 12 ? Get<std::uint32_t>(&bytes[8]) : 0;
    if (size < FieldsEnd(version)) {
        return ContentFileError(FileErrorKind::HeaderIncomplete, fileSize);
    }
    if (version < 1 || version > kJournalVersion) {
        return ContentFileError(FileErrorKind::UnknownVersion, version);
    }
    const auto headerSize = Get<std::uint32_t>(&bytes[12]);
    if (headerSize != HeaderSizeOf(version) || headerSize > fileSize) {
        return ContentFileError(FileErrorKind::ImpossibleHeaderSize, headerSize);
    }
    const auto recordSize = Get<std::uint32_t>(&bytes[16]);
    const auto plates = Get<std::uint32_t>(&bytes[20]);
    if (recordSize != kRecordSize || plates != kPlateCount) {
        return ContentFileError(FileErrorKind::ImpossibleRecordShape, recordSize, plates);
    }
    JournalDescription d;
    d.version = version;
    d.start = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(Get<std::int64_t>(&bytes[24])));
    d.frequency = Get<std::int32_t>(&bytes[32]);
    if (!KnownSamplingRate(d.frequency)) {
        return ContentFileError(FileErrorKind::ImpossibleFrequency, TwosComplement(d.frequency));
    }
    const auto active = Get<std::uint32_t>(&bytes[36]);
    if (active >= 1U << kPlateCount) {
        return ContentFileError(FileErrorKind::ImpossibleActivePlates, active);
    }
    d.testNumber = Get<std::int64_t>(&bytes[kRewrittenOffset]);
    if (d.testNumber < 0) {
        return ContentFileError(FileErrorKind::ImpossibleTestNumber, TwosComplement(d.testNumber));
    }
    const auto state = Get<std::uint32_t>(&bytes[kRewrittenOffset + 8]);
    const auto lastState = version >= 2 ? JournalState::AwaitingSave : JournalState::Stopped;
    if (state > static_cast<std::uint32_t>(lastState)) {
        return ContentFileError(FileErrorKind::ImpossibleClosedMark, state);
    }
    d.state = static_cast<JournalState>(state);
    d.closedCount = Get<std::uint64_t>(&bytes[kRewrittenOffset + 16]);
    if (version >= 2) {
        d.sequence = Get<std::uint64_t>(&bytes[kSequenceOffset]);
        if (d.sequence == 0 || d.sequence > kMaxSequence) {
            return ContentFileError(FileErrorKind::ImpossibleSequence, d.sequence);
        }
    }
    if (version >= 3) {
        std::memcpy(d.runId.data(), &bytes[kRunIdOffset], d.runId.size());
        std::size_t at = kMetadataOffset;
        for (std::size_t f = 0; f < kMetadataFields.size(); ++f) {
            const MetadataField& field = kMetadataFields[f];
            const auto* text = reinterpret_cast<const char*>(&bytes[at]);
            // The writer cuts every text to its limit: more is a field that lost its NUL.
            const std::string_view kept(text, strnlen(text, field.bytes));
            if (CodePoints(kept) > field.maxChars) {
                return ContentFileError(FileErrorKind::MetadataTooLong, f, field.maxChars);
            }
            d.metadata.*field.text = std::string(kept);
            at += field.bytes;
        }
    }
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        JournalPlate& plate = d.plates[i];
        plate.active = (active & (1U << i)) != 0;
        const unsigned char* calibration = &bytes[kCalibrationOffset + i * 24];
        PlateCalibration& c = plate.calibration;
        c.zeroOffset = Get<double>(calibration);
        c.index = Get<double>(calibration + 8);
        c.tare = Get<double>(calibration + 16);
        // The run converts with these, so they pass a start-up's checks; an idle plate's are
        // never used.
        if (plate.active &&
            (!UsableOffset(c.zeroOffset) || !UsableIndex(c.index) || !UsableOffset(c.tare))) {
            return PlateDamage(FileErrorKind::ImpossibleCalibration, i);
        }
        for (auto [offset, text, unterminated] :
             {std::tuple{kPortsOffset, &plate.port, FileErrorKind::UnterminatedPort},
              std::tuple{kUnitsOffset, &plate.unit, FileErrorKind::UnterminatedUnit}}) {
            const auto* field = reinterpret_cast<const char*>(&bytes[offset + i * kTextBytes]);
            const std::size_t length = strnlen(field, kTextBytes);
            if (length == kTextBytes) {
                return PlateDamage(unterminated, i);
            }
            text->assign(field, length);
        }
    }
    // From the size alone, before anything is read: a run never holds more.
    const std::uint64_t records = (fileSize - headerSize) / kRecordSize;
    if (records > static_cast<std::uint64_t>(kMaxSamples)) {
        return ContentFileError(FileErrorKind::TooManyRecords, records);
    }
    if (d.state != JournalState::Open && d.closedCount != records) {
        return ContentFileError(FileErrorKind::ClosedCountMismatch, d.closedCount, records);
    }
    // Only a failed write or a crash leaves a torn record behind.
    const std::uint64_t torn = (fileSize - headerSize) % kRecordSize;
    if ((d.state == JournalState::Closed || d.state == JournalState::AwaitingSave) && torn != 0) {
        return ContentFileError(FileErrorKind::TornAfterClose, d.closedCount, torn);
    }
    description = std::move(d);
    return std::nullopt;
}

std::optional<FileError> ReadHeader(int fd, JournalDescription& description,
                                    std::uint64_t& recordCount) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return SystemFileError(FileOperation::None, errno);
    }
    HeaderBytes bytes{};
    std::size_t got = 0;
    const int error = ReadAllAt(fd, bytes.data(), bytes.size(), 0, got);
    if (error != 0) {
        return SystemFileError(FileOperation::None, error);
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    auto damage = DecodeHeader(bytes.data(), got, fileSize, description);
    if (!damage) {
        recordCount = (fileSize - HeaderSizeOf(description.version)) / kRecordSize;
    }
    return damage;
}

std::optional<FileError> OpenRegularFile(const std::string& path, int flags, UniqueFd& fd) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer, and a device may wait for a line.
    fd = UniqueFd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        return SystemFileError(FileOperation::None, errno);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        const int error = errno;
        fd.Reset();
        return SystemFileError(FileOperation::None, error);
    }
    if (!S_ISREG(info.st_mode)) {
        fd.Reset();
        return SystemFileError(FileOperation::None, kNotARegularFile);
    }
    return std::nullopt;
}

std::optional<FileError> OpenJournal(const std::string& path, int flags, UniqueFd& fd,
                                     JournalDescription& description, std::uint64_t& recordCount) {
    auto damage = OpenRegularFile(path, flags, fd);
    return damage ? damage : ReadHeader(fd.Get(), description, recordCount);
}

int ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset, std::size_t& got) {
    auto* bytes = static_cast<unsigned char*>(data);
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return 0;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace kelvaro::journal
