#include "archive/TestFileWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/NumberText.h"
#include "settings/RegularFile.h"

namespace kelvaro {

namespace {

// Windows-1252 bytes 0x80..0x9F and the characters they stand for (0 = no character).
constexpr std::array<char32_t, 32> kHighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 character at `text[i]`; returns its length, or 0 when the bytes there
// are not a well-formed character (overlong forms and surrogates included).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& c) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char b0 = byte(0);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        c = b0 & 0x1Fu;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        c = b0 & 0x0Fu;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        c = b0 & 0x07u;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte(k) & 0x3Fu);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    return length;
}

char Windows1252Byte(char32_t c) {
    if (c < 0x20) {
        return (c == '\t' || c == '\r' || c == '\n') ? static_cast<char>(c) : '?';
    }
    if (c < 0x7F || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(static_cast<unsigned char>(c));
    }
    for (std::size_t k = 0; k < kHighControls.size(); ++k) {
        if (kHighControls[k] != 0 && kHighControls[k] == c) {
            return static_cast<char>(static_cast<unsigned char>(0x80 + k));
        }
    }
    return '?';  // DEL, C1 controls and everything beyond the code page
}

// Temporaries are hidden files named after their target with this mark and six random
// characters: ".Kelvaro_7.csv.kelvaro-tmp-a1B2c3".
constexpr std::string_view kTemporaryMark = ".kelvaro-tmp-";
constexpr std::size_t kTemporaryRandom = 6;
// An unlocked temporary younger than this may belong to an export that has just created it
// and not yet taken its lock.
constexpr std::chrono::seconds kStaleAfter{60};

std::filesystem::path FolderOf(const std::string& target) {
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

bool IsTemporaryName(std::string_view name) {
    const std::size_t tail = kTemporaryMark.size() + kTemporaryRandom;
    return name.size() > tail + 1 && name.front() == '.' &&
           name.substr(name.size() - tail, kTemporaryMark.size()) == kTemporaryMark;
}

// Removes the temporaries that exports killed in this folder left behind: this user's own,
// old enough, and not locked. A live export holds the lock on its temporary until it is
// renamed into place, so another instance's file in progress is never touched.
void RemoveStaleTemporaries(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto now = std::chrono::system_clock::now();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string path = it->path().string();
        if (!IsTemporaryName(it->path().filename().string())) {
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat info {};
        const bool stale =
            ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            now - std::chrono::system_clock::from_time_t(info.st_mtime) >= kStaleAfter &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale) {
            ::unlink(path.c_str());
        }
        ::close(fd);
    }
}

// A temporary file beside the target, locked while it lives: closed and removed unless it was
// renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) {
        const std::filesystem::path folder = FolderOf(target);
        RemoveStaleTemporaries(folder);
        name_ = (folder / ("." + std::filesystem::path(target).filename().string() +
                           std::string(kTemporaryMark) + "XXXXXX"))
                    .string();
        fd_ = mkostemp(name_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            name_.clear();
            return;
        }
        // Where locks are not supported the file is still written; it is then only protected
        // from a sweep by its age.
        ::flock(fd_, LOCK_EX | LOCK_NB);
        // mkstemp makes the file private; give it what a newly created file would get.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, static_cast<mode_t>(0666 & ~mask));
    }
    ~TemporaryFile() {
        if (!name_.empty()) {
            ::unlink(name_.c_str());  // before the close gives up the lock
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Error() const { return error_; }

    bool Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                error_ = errno;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
            written_ += static_cast<std::uint64_t>(n);
        }
        // Hands what is written so far to the disk in the background, so that the sync at the
        // end waits for little more than the last stretch. A failure here only loses that
        // head start: the sync reports any error.
        if (written_ - handedOver_ >= kWritebackBytes) {
            ::sync_file_range(fd_, static_cast<off_t>(handedOver_),
                              static_cast<off_t>(written_ - handedOver_), SYNC_FILE_RANGE_WRITE);
            handedOver_ = written_;
        }
        return true;
    }

    // Syncs, renames over `target` and closes. The folder is not synced: a crash right after
    // the rename may bring back the earlier file, never a partial one, and the sync of a folder
    // waits for the journal, which would cost more than writing the whole test. The rename
    // comes before the close so the file is never unlocked under its temporary name.
    bool Commit(const std::string& target) {
        if (::fsync(fd_) != 0) {
            error_ = errno;
            return false;
        }
        if (::rename(name_.c_str(), target.c_str()) != 0) {
            error_ = errno;
            return false;
        }
        name_.clear();
        // The data is on the disk already; Linux frees the descriptor whatever close reports.
        ::close(std::exchange(fd_, -1));
        return true;
    }

  private:
    // How much written data is handed to the disk at a time while the rows are formatted.
    static constexpr std::uint64_t kWritebackBytes = 1024 * 1024;

    std::string name_;
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t handedOver_ = 0;
};

// Shows the progress window for the rows and closes it however the writing ends.
class ProgressShown {
  public:
    ProgressShown(ProgressView& progress, int maximum) : progress_(progress) {
        progress_.SetMaximum(maximum);
        progress_.SetPosition(0);
        progress_.Show();
    }
    ~ProgressShown() { Close(); }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;
    void Close() {
        if (shown_) {
            shown_ = false;
            progress_.Close();
        }
    }

  private:
    ProgressView& progress_;
    bool shown_ = true;
};

// The rename would put the file in the place of a FIFO, socket or device standing at the
// name (or named by a link there), which another program may be using: that is refused.
// stat() opens nothing, so nothing there is waited on.
bool IsSpecialFile(const std::string& path) {
    struct stat target {};
    return ::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) &&
           !S_ISDIR(target.st_mode);
}

void AppendLine(std::string& out, std::string_view text) {
    out += ToWindows1252(text);
    out += "\r\n";
}

void AppendInteger(std::string& out, std::int64_t value) {
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

// "000;".."999;": the thousandths of a value and the end of its field.
constexpr auto kThousandths = [] {
    std::array<char, 4000> table{};
    for (std::size_t n = 0; n < 1000; ++n) {
        table[4 * n] = static_cast<char>('0' + n / 100);
        table[4 * n + 1] = static_cast<char>('0' + n / 10 % 10);
        table[4 * n + 2] = static_cast<char>('0' + n % 10);
        table[4 * n + 3] = ';';
    }
    return table;
}();

// The digits below are assembled in a register and stored with one 8-byte copy, which puts
// the lowest byte first only on a little-endian machine.
static_assert(std::endian::native == std::endian::little);

// Whole numbers below this take the register path of PutUnsigned.
constexpr std::uint32_t kEightDigits = 100'000'000;

// The eight decimal digits of `u` (below 10^8, leading zeros included) as the values 0..9 of
// the bytes of one register, the first digit in the lowest byte. The digits are split in
// parallel lanes (4 + 4, then 2 + 2, then 1 + 1 digits), each quotient by a multiply and
// shift that is exact in its range.
[[gnu::always_inline]] inline std::uint64_t DigitLanes(std::uint32_t u) {
    const std::uint64_t high = u / 10000;
    const std::uint64_t four =
        high | (std::uint64_t{u - static_cast<std::uint32_t>(high) * 10000} << 32);
    const std::uint64_t hundreds = ((four * 10486) >> 20) & 0x0000007F'0000007F;  // n / 100
    const std::uint64_t two = ((four - 100 * hundreds) << 16) + hundreds;
    const std::uint64_t tens = ((two * 103) >> 10) & 0x000F000F'000F000F;  // n / 10
    return ((two - 10 * tens) << 8) + tens;
}

constexpr std::uint64_t kAsciiZeros = 0x30303030'30303030;

// Writes `u` (below 10^8) in decimal at `p` and returns the end. Stores 8 bytes whatever the
// length: the caller leaves room and overwrites what lies past the end. The leading zeros are
// counted from the lowest nonzero byte: no branch depends on the number, so rows of differing
// lengths cost no mispredictions.
inline char* PutUnsigned(char* p, std::uint32_t u) {
    const std::uint64_t lanes = DigitLanes(u);
    const int zeros = std::countr_zero(lanes | (std::uint64_t{1} << 56)) / 8;  // "0" keeps one
    const std::uint64_t text = (lanes + kAsciiZeros) >> (8 * zeros);
    std::memcpy(p, &text, 8);
    return p + (8 - zeros);
}

// Values from this magnitude on take the digit-string path.
constexpr double kFastLimit = 9.9e7;
// The magnitude in 1/1024 thousandths, offset by half a thousandth.
constexpr double kFixedScale = 1024.0 * 1000.0;
constexpr double kFixedLimit = kFastLimit * kFixedScale;

// The "0.000" field of `value` and its ";" at `p` (room for 24 characters), the separator and
// ";" given as `separatorAndEnd` (the separator in the lowest byte, ";" in the fifth). Returns
// the end, or nullptr for the near-ties, large values, infinities and NaN, which take the
// digit-string path.
//
// Why the fixed-point value gives the digits of the shortest decimal text s of v: the
// thousandths rounded half away from zero are floor(1000 |s| + 1/2), the high bits of
// Y = 1024000 |s| + 512. The shortest text lies within half an ulp of v, so 1000 |s| lies
// within 500 ulp(v) <= ulp(1000 v) <= 2^-16 of 1000 |v| (below 2^37 = 1.37e11 thousandths);
// the product and the sum below add at most 2^-7 each (below 2^47). `fixed` is thus within
// 2^-5 of Y, and when its low ten bits are neither 0 nor 1023, Y / 1024 and fixed / 1024 have
// the same whole part. A margin of one more unit on each side is kept.
[[gnu::always_inline]] inline char* PutThreeDecimalsField(char* p, double value,
                                                          std::uint64_t separatorAndEnd) {
    const double fixed = std::fabs(value) * kFixedScale + 512.0;
    if (!(fixed < kFixedLimit)) {
        return nullptr;
    }
    const auto bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(fixed));
    if ((bits & 1023) - 2 >= 1020) {  // within two units of a tie (0, 1, 1022, 1023 wrap round)
        return nullptr;
    }
    const std::uint64_t thousandths = bits >> 10;
    *p = '-';  // kept only for a negative value that does not round to zero
    p += static_cast<int>(std::signbit(value)) & static_cast<int>(thousandths != 0);
    if (thousandths < kEightDigits) {
        // Below 100000 the whole text is one set of eight digits: five whole ones with the
        // leading zeros dropped but the last, then the three decimals, which the second store
        // moves one place on behind the separator and ends with ";".
        const std::uint64_t lanes = DigitLanes(static_cast<std::uint32_t>(thousandths));
        const int zeros = std::countr_zero(lanes | (std::uint64_t{1} << 32)) / 8;
        const std::uint64_t text = lanes + kAsciiZeros;
        const std::uint64_t whole = text >> (8 * zeros);
        std::memcpy(p, &whole, 8);
        p += 5 - zeros;
        const std::uint64_t tail = ((text >> 32) & 0xFFFFFF00) | separatorAndEnd;
        std::memcpy(p, &tail, 8);
        return p + 5;
    }
    const auto units = static_cast<std::uint32_t>(thousandths / 1000);
    const auto rest = static_cast<std::size_t>(thousandths - std::uint64_t{units} * 1000);
    p = PutUnsigned(p, units);
    *p++ = static_cast<char>(separatorAndEnd);
    std::memcpy(p, &kThousandths[4 * rest], 4);
    return p + 4;
}

// The separator in the lowest byte and ";" in the fifth, as PutThreeDecimalsField takes them.
constexpr std::uint64_t SeparatorAndEnd(char decimalSeparator) {
    return static_cast<unsigned char>(decimalSeparator) | std::uint64_t{';'} << 32;
}

// The row numbers, counted up in decimal in one register: cheaper than converting each one,
// and without the stall of reading back digits just stored one by one. Each byte holds a digit
// plus 0xF6, the last digit in the lowest byte, so adding one carries exactly where a 9 turns
// 0 (its byte wraps from 0xFF to 0x00 and is set back to 0xF6).
class RowNumberText {
  public:
    // The next number; at most 99999999.
    void Next() {
        ++counter_;
        const int wrapped = std::countr_zero(counter_) & ~7;  // bits of the bytes that wrapped
        counter_ |= kDigitBias & ((std::uint64_t{1} << wrapped) - 1);
    }
    // Writes the number at `p` and returns the end; stores 8 bytes.
    char* Put(char* p) const {
        const std::uint64_t digits = counter_ - kDigitBias;  // one digit per byte
        const int zeros = std::countl_zero(digits | 1) / 8;  // leading zero digits
        const std::uint64_t text = __builtin_bswap64(digits + kAsciiZeros) >> (8 * zeros);
        std::memcpy(p, &text, 8);
        return p + (8 - zeros);
    }

  private:
    static constexpr std::uint64_t kDigitBias = 0xF6F6F6F6'F6F6F6F6;
    std::uint64_t counter_ = kDigitBias;  // 0
};

// Rows are written in stretches of this size: few system calls, and the buffer stays in cache.
constexpr std::size_t kFlushBytes = 256 * 1024;
// Room after the flush mark for one row even when every value takes the long path.
constexpr std::size_t kRowRoom = 4096;

}  // namespace

std::string ToWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(utf8, i, c);
        if (length == 0) {
            out += '?';
            ++i;
        } else {
            out += Windows1252Byte(c);
            i += length;
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(";\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

void AppendThreeDecimals(std::string& out, double value, char decimalSeparator) {
    // A spreadsheet reads an empty field as no value; "INF" or "NaN" would be read as a text
    // in a column of loads, or as a load by a program that parses it.
    if (!std::isfinite(value)) {
        return;
    }
    // Outside this range the digits no longer fit the fixed buffers below; such loads only
    // come from a nonsensical calibration and take the general (allocating) path.
    if (std::fabs(value) >= 1e15) {
        out += FormatNumber(value, NumberPattern::ThreeDecimals, decimalSeparator);
        return;
    }
    std::array<char, 24> quick{};
    if (char* end = PutThreeDecimalsField(quick.data(), value, SeparatorAndEnd(decimalSeparator))) {
        out.append(quick.data(), end - 1);  // without the field's ";"
        return;
    }
    std::array<char, 40> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), std::fabs(value),
                                      std::chars_format::scientific);
    std::array<char, 48> digits{};
    int count = 0;
    const char* p = text.data();
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p != '.') {
            digits[static_cast<std::size_t>(count++)] = *p;
        }
    }
    int exponent = 0;
    ++p;  // 'e'
    if (p < result.ptr && *p == '+') {
        ++p;
    }
    std::from_chars(p, result.ptr, exponent);

    if (exponent < -4) {  // below 0.0001: nothing reaches the rounding digit
        out += '0';
        out += decimalSeparator;
        out += "000";
        return;
    }
    int intDigits = exponent + 1;
    if (intDigits < 1) {
        const int zeros = 1 - intDigits;
        std::memmove(digits.data() + zeros, digits.data(), static_cast<std::size_t>(count));
        std::memset(digits.data(), '0', static_cast<std::size_t>(zeros));
        count += zeros;
        intDigits = 1;
    }
    const int wanted = intDigits + 3;
    if (count < wanted) {
        std::memset(digits.data() + count, '0', static_cast<std::size_t>(wanted - count));
    } else if (count > wanted) {
        if (digits[static_cast<std::size_t>(wanted)] >= '5') {
            int i = wanted;
            bool carry = true;
            while (carry && i > 0) {
                --i;
                char& d = digits[static_cast<std::size_t>(i)];
                if (d == '9') {
                    d = '0';
                } else {
                    ++d;
                    carry = false;
                }
            }
            if (carry) {
                std::memmove(digits.data() + 1, digits.data(), static_cast<std::size_t>(wanted));
                digits[0] = '1';
                ++intDigits;
            }
        }
    }
    const int total = intDigits + 3;
    bool allZero = true;
    for (int i = 0; i < total; ++i) {
        if (digits[static_cast<std::size_t>(i)] != '0') {
            allZero = false;
            break;
        }
    }
    if (std::signbit(value) && !allZero) {
        out += '-';
    }
    int start = 0;
    while (start < intDigits - 1 && digits[static_cast<std::size_t>(start)] == '0') {
        ++start;
    }
    out.append(digits.data() + start, digits.data() + intDigits);
    out += decimalSeparator;
    out.append(digits.data() + intDigits, digits.data() + total);
}

FileStatus WriteTestFile(const std::string& path, const TestFileHeading& heading,
                         std::span<const LoadRecord> samples, char decimalSeparator,
                         ProgressView& progress) {
    const auto fail = [&](int code) {
        return SystemFileError(FileOperation::TestFileWrite, code, path);
    };
    if (IsSpecialFile(path)) {
        return fail(kNotARegularFile);
    }
    TemporaryFile file(path);
    if (!file.Ok()) {
        return fail(file.Error());
    }
    const int rows = static_cast<int>(samples.size());
    ProgressShown shown(progress, rows);

    std::string out;
    out.reserve(1024);
    out += ToWindows1252("Avaliação;");
    AppendInteger(out, heading.testNumber);
    out += ";\r\n";
    out += ToWindows1252("Frequência;");
    AppendInteger(out, heading.frequency);
    out += ";\r\n;\r\n";
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto index = static_cast<std::size_t>(p - 1);
        AppendLine(out, "Placa " + std::to_string(p) + ";" + CsvField(heading.ports[index]) + ";");
    }
    out += ";\r\n";
    std::string units = "Am Geral;";
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto index = static_cast<std::size_t>(p - 1);
        units += CsvField("Am" + std::to_string(p) + ": " + heading.units[index]) + ";";
    }
    AppendLine(out, units);
    out += ";\r\n";

    if (!file.Write(out)) {
        return fail(file.Error());
    }
    // Rows go straight into a fixed buffer: a row of a long test costs no allocation.
    std::vector<char> buffer(kFlushBytes + kRowRoom);
    char* const begin = buffer.data();
    char* p = begin;
    std::string slow;
    const std::uint64_t separatorAndEnd = SeparatorAndEnd(decimalSeparator);
    RowNumberText number;
    for (int i = 1; i <= rows; ++i) {
        if (static_cast<std::uint32_t>(i) < kEightDigits) {
            number.Next();
            p = number.Put(p);
        } else {
            p = std::to_chars(p, p + 12, i).ptr;
        }
        *p++ = ';';
        for (double v : samples[static_cast<std::size_t>(i - 1)]) {
            if (char* end = PutThreeDecimalsField(p, v, separatorAndEnd)) {
                p = end;
            } else {
                slow.clear();
                AppendThreeDecimals(slow, v, decimalSeparator);
                p = std::copy(slow.begin(), slow.end(), p);
                *p++ = ';';
            }
        }
        *p++ = '\r';
        *p++ = '\n';
        progress.SetPosition(i);
        if (static_cast<std::size_t>(p - begin) >= kFlushBytes) {
            if (!file.Write({begin, static_cast<std::size_t>(p - begin)})) {
                return fail(file.Error());
            }
            p = begin;
        }
    }
    shown.Close();
    if (!file.Write({begin, static_cast<std::size_t>(p - begin)}) || !file.Commit(path)) {
        return fail(file.Error());
    }
    return {};
}

FileStatus WriteWholeFile(const std::string& path, std::string_view bytes,
                          FileOperation operation) {
    if (IsSpecialFile(path)) {
        return SystemFileError(operation, kNotARegularFile, path);
    }
    TemporaryFile file(path);
    if (!file.Ok() || !file.Write(bytes) || !file.Commit(path)) {
        return SystemFileError(operation, file.Error(), path);
    }
    return {};
}

}  // namespace kelvaro
