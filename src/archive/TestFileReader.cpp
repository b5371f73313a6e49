// Test files read back. The reader takes exactly what the export writes (ten heading lines, then
// "n;load;load;load;load;" rows, CR LF, Windows-1252) and names the first line that departs from
// it; a file it accepts is written again by the export with the same bytes.
#include "archive/TestFileReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "settings/RegularFile.h"

namespace kelvaro {

namespace {

// A file is read a slice at a time and held only from the start of the record being read, so a
// huge file damaged early is refused by its line as soon as that is read. A record is held whole
// up to this size, more than a whole run's file (144000 rows of ordinary loads take about 12 MB).
constexpr std::size_t kSliceBytes = 256 * 1024;
constexpr std::size_t kMaxRecordBytes = 16 * 1024 * 1024;

// Windows-1252 bytes 0x80..0x9F and the characters they stand for (0 = no character).
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsControl(unsigned char b) {
    return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F;
}

bool IsUndefined(unsigned char b) {
    return b >= 0x80 && b < 0xA0 && kHighControls[b - 0x80] == 0;
}

// Why a text cannot come from the export: it writes no byte the code page lacks and no control
// other than tab, CR and LF. None when it can; `at` is then left alone.
std::optional<FileError> ByteFault(std::string_view text, std::size_t& at) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (IsControl(b) || IsUndefined(b)) {
            at = i;
            return ContentFileError(
                IsControl(b) ? FileErrorKind::ControlCharacter : FileErrorKind::NotWindows1252, b);
        }
    }
    return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Windows-1252 bytes as UTF-8; a byte without a character (only in messages) becomes "?".
std::string FromWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b >= 0x80 && b < 0xA0) {
            AppendUtf8(out, IsUndefined(b) ? U'?' : kHighControls[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

// A field as an error carries it: as much as the words quote, and one character more to tell
// that there is more.
std::string FieldText(std::string_view field) {
    constexpr std::size_t kCarried = 25;
    return FromWindows1252(field.substr(0, kCarried));
}

template <class Integer>
bool ParseInteger(std::string_view text, Integer& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "-?digits[,.]ddd", the only form the export gives a load. The value is the double nearest to
// the decimal text, so the export writes the same text again.
bool ParseLoad(std::string_view text, double& value, char& separator) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.size() < 5) {
        return false;
    }
    const std::size_t wholeDigits = digits.size() - 4;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != wholeDigits && !IsDigit(digits[i])) {
            return false;
        }
    }
    separator = digits[wholeDigits];
    if (separator != ',' && separator != '.') {
        return false;
    }
    // Up to 15 digits the thousandths are exact in a double, and one correctly rounded division
    // gives the double nearest to the text; longer texts take the general conversion.
    if (digits.size() <= 16) {
        std::uint64_t thousandths = 0;
        for (char c : digits) {
            if (c != separator) {
                thousandths = thousandths * 10 + static_cast<std::uint64_t>(c - '0');
            }
        }
        value = static_cast<double>(thousandths) / 1000.0;
    } else {
        std::string normal(digits);
        normal[wholeDigits] = '.';
        const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value,
                                            std::chars_format::fixed);
        if (result.ec != std::errc()) {
            return false;  // beyond the range of a double: no export wrote it
        }
    }
    if (negative) {
        value = -value;
    }
    return true;
}

// One heading line: its first field and how many fields it has.
struct HeadingLine {
    std::string_view first;  // Windows-1252
    std::size_t fields;
};

constexpr std::array<HeadingLine, 10> kHeading{{
    {"Avalia\xE7\xE3o", 2},
    {"Frequ\xEAncia", 2},
    {"", 1},
    {"Placa 1", 2},
    {"Placa 2", 2},
    {"Placa 3", 2},
    {"Placa 4", 2},
    {"", 1},
    {"Am Geral", 5},
    {"", 1},
}};
constexpr std::size_t kFirstPortLine = 3;
constexpr std::size_t kUnitsLine = 8;

// The fields of a record, each ended by ";", a quoted one with its quotes doubled. False when
// the record does not end with ";" or a quote is not closed where its field ends.
bool SplitFields(std::string_view record, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t i = 0;
    while (i < record.size()) {
        std::string field;
        if (record[i] == '"') {
            for (++i;; ++i) {
                if (i == record.size()) {
                    return false;
                }
                if (record[i] == '"') {
                    if (i + 1 < record.size() && record[i + 1] == '"') {
                        ++i;
                    } else {
                        break;
                    }
                }
                field += record[i];
            }
            ++i;  // the closing quote
            if (i == record.size() || record[i] != ';') {
                return false;
            }
        } else {
            const std::size_t end = record.find(';', i);
            if (end == std::string_view::npos) {
                return false;
            }
            field = record.substr(i, end - i);
            i = end;
        }
        ++i;  // the ";"
        fields.push_back(std::move(field));
    }
    return true;
}

class Parser {
  public:
    // All the bytes at once.
    Parser(std::string_view bytes, const std::string& name)
        : bytes_(bytes), name_(name), expectedSize_(bytes.size()), atEnd_(true) {}
    // The file's bytes, read as they are needed.
    Parser(const RegularFile& file, const std::string& name)
        : file_(&file), name_(name), expectedSize_(file.Size()) {}

    bool Parse(TestFileContent& out) {
        std::vector<std::string> fields;
        for (std::size_t k = 0; k < kHeading.size(); ++k) {
            if (!Heading(k, fields, out)) {
                return false;
            }
        }
        const std::uint64_t left = expectedSize_ - std::min(expectedSize_, Offset());
        out.loads.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(kMaxSamples, left / 32 + 1)));
        std::string_view record;
        while (Have(0)) {
            if (out.loads.size() == kMaxSamples) {
                return Fail(line_, ContentFileError(FileErrorKind::TooManySamples, kMaxSamples));
            }
            if (!NextRecord(false, record) || !Row(record, out)) {
                return false;
            }
        }
        return !failed_;
    }

    const FileError& Error() const { return error_; }

  private:
    bool Fail(int line, FileError error) {
        error.operation = FileOperation::TestFileRead;
        error.path = name_;
        error.line = static_cast<std::size_t>(line);
        error_ = std::move(error);
        return false;
    }
    bool Fail(int line, FileErrorKind kind) { return Fail(line, ContentFileError(kind)); }

    // Where pos_ is in the file.
    std::uint64_t Offset() const { return consumed_ + pos_; }

    // Reads the next slice after what is held, dropping what was read before the current
    // record. False at the end of the file or when the read fails (failed_).
    bool Fill() {
        if (file_ == nullptr || atEnd_ || failed_) {
            return false;
        }
        buffer_.erase(0, pos_);
        consumed_ += pos_;
        pos_ = 0;
        const std::size_t held = buffer_.size();
        buffer_.resize(held + kSliceBytes);
        const long n = file_->Read(buffer_.data() + held, kSliceBytes);
        buffer_.resize(held + static_cast<std::size_t>(std::max(n, 0L)));
        bytes_ = buffer_;
        if (n < 0) {
            failed_ = true;
            error_ = SystemFileError(FileOperation::TestFileRead, static_cast<int>(-n), name_);
        }
        atEnd_ = n <= 0;
        return n > 0;
    }

    // Whether the byte `ahead` bytes past pos_ is there, reading on as far as it takes.
    bool Have(std::size_t ahead) { return pos_ + ahead < bytes_.size() || ReadOn(ahead); }

    // Have's slow path, kept out of the row loop.
    [[gnu::noinline]] bool ReadOn(std::size_t ahead) {
        while (pos_ + ahead >= bytes_.size()) {
            if (!Fill()) {
                return false;
            }
        }
        return true;
    }

    // Refuses the current record for its first byte the export cannot have written; true when
    // it has none.
    bool CheckBytes(std::string_view record) {
        std::size_t at = 0;
        auto fault = ByteFault(record, at);
        if (!fault) {
            return true;
        }
        const auto breaks = std::count(record.begin(), record.begin() + at, '\n');
        return Fail(recordLine_ + static_cast<int>(breaks), std::move(*fault));
    }

    bool TooLong() {
        return Fail(recordLine_, ContentFileError(FileErrorKind::LineTooLong, kMaxRecordBytes));
    }

    // The next record without its CR LF. `quoted`: a CR LF inside quotes belongs to the record
    // (a port or unit holding one), as the export quotes it.
    bool NextRecord(bool quoted, std::string_view& record) {
        recordLine_ = line_;
        if (!Have(0)) {
            return !failed_ && Fail(line_, Offset() == 0 ? FileErrorKind::EmptyFile
                                                         : FileErrorKind::EndsInHeading);
        }
        // How far past pos_ the line feed that ends the record is, or the end of the file.
        std::size_t length = 0;
        int breaks = 0;
        bool inQuotes = false;
        if (quoted) {
            for (; Have(length) && (inQuotes || bytes_[pos_ + length] != '\n'); ++length) {
                inQuotes ^= bytes_[pos_ + length] == '"';
                breaks += static_cast<int>(bytes_[pos_ + length] == '\n');
                if (length == kMaxRecordBytes) {
                    return TooLong();
                }
            }
        } else {
            std::size_t end = bytes_.find('\n', pos_);
            while (end == std::string_view::npos) {
                length = bytes_.size() - pos_;
                if (length > kMaxRecordBytes) {
                    return TooLong();
                }
                if (!Fill()) {
                    break;
                }
                end = bytes_.find('\n', pos_ + length);
            }
            if (end != std::string_view::npos) {
                length = end - pos_;
            }
        }
        if (pos_ + length == bytes_.size()) {
            return !failed_ && Fail(recordLine_, inQuotes ? FileErrorKind::OpenQuotes
                                                          : FileErrorKind::IncompleteLine);
        }
        const std::size_t end = pos_ + length;
        if (end == pos_ || bytes_[end - 1] != '\r') {
            return Fail(recordLine_ + breaks, FileErrorKind::NoCarriageReturn);
        }
        record = bytes_.substr(pos_, end - 1 - pos_);
        pos_ = end + 1;
        line_ += breaks + 1;
        return true;
    }

    bool Heading(std::size_t k, std::vector<std::string>& fields, TestFileContent& out) {
        const HeadingLine& expected = kHeading[k];
        // Quotes are looked at only once the file has shown it is a test file: an odd quote in
        // the first line of another CSV is then told as a wrong line, not as an open quote.
        std::string_view record;
        if (!NextRecord(k >= kFirstPortLine, record) || !CheckBytes(record)) {
            return false;
        }
        bool ok = SplitFields(record, fields) && fields.size() == expected.fields &&
                  fields[0] == expected.first;
        if (ok && k == 0) {
            ok = ParseInteger(fields[1], out.testNumber);
        } else if (ok && k == 1) {
            ok = ParseInteger(fields[1], out.frequency);
        } else if (ok && k >= kFirstPortLine && k < kFirstPortLine + kPlateCount) {
            out.ports[k - kFirstPortLine] = FromWindows1252(fields[1]);
        } else if (ok && k == kUnitsLine) {
            for (std::size_t p = 1; ok && p <= kPlateCount; ++p) {
                const std::string column = "Am" + std::to_string(p) + ": ";
                ok = fields[p].starts_with(column);
                out.units[p - 1] = FromWindows1252(
                    std::string_view(fields[p]).substr(std::min(column.size(), fields[p].size())));
            }
        }
        return ok || Fail(recordLine_, ContentFileError(FileErrorKind::UnexpectedHeadingLine, k));
    }

    // A row told as its field count: what is wrong when the fields themselves are not.
    bool FieldCountFault(std::string_view record) {
        if (!CheckBytes(record)) {
            return false;
        }
        if (record.empty()) {
            return Fail(recordLine_, FileErrorKind::EmptyLine);
        }
        const auto ends = std::count(record.begin(), record.end(), ';');
        const bool closed = record.back() == ';';
        if (!closed && ends == kPlateCount) {
            return Fail(recordLine_, FileErrorKind::NoFinalSemicolon);
        }
        return Fail(recordLine_, ContentFileError(FileErrorKind::FieldCount,
                                                  static_cast<std::uint64_t>(ends) + !closed));
    }

    bool Row(std::string_view record, TestFileContent& out) {
        const char* p = record.data();
        const char* const end = p + record.size();
        std::string_view field;
        const auto next = [&] {
            const auto* semicolon = static_cast<const char*>(std::memchr(p, ';', end - p));
            if (semicolon == nullptr) {
                return false;
            }
            field = {p, static_cast<std::size_t>(semicolon - p)};
            p = semicolon + 1;
            return true;
        };
        if (!next()) {
            return FieldCountFault(record);
        }
        const std::size_t expected = out.loads.size() + 1;
        std::size_t number = 0;
        if (!ParseInteger(field, number) || number != expected) {
            FileError error = ContentFileError(FileErrorKind::UnexpectedSample, expected);
            error.text = FieldText(field);
            return CheckBytes(field) && Fail(recordLine_, std::move(error));
        }
        LoadRecord loads{};
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            if (!next()) {
                return FieldCountFault(record);
            }
            double& load = loads[static_cast<std::size_t>(plate - 1)];
            if (field.empty()) {
                load = std::numeric_limits<double>::quiet_NaN();
                continue;
            }
            char separator = 0;
            // The error is made only on the way out: this loop runs for every load of the file.
            if (!ParseLoad(field, load, separator)) {
                FileError error = ContentFileError(FileErrorKind::NotALoad);
                error.plate = plate;
                error.text = FieldText(field);
                return CheckBytes(field) && Fail(recordLine_, std::move(error));
            }
            if (!out.decimalSeparator) {
                out.decimalSeparator = separator;
            } else if (separator != *out.decimalSeparator) {
                FileError error = ContentFileError(FileErrorKind::SeparatorChanged,
                                                   static_cast<unsigned char>(separator));
                error.plate = plate;
                error.otherValue = static_cast<unsigned char>(*out.decimalSeparator);
                return Fail(recordLine_, std::move(error));
            }
        }
        if (p != end) {
            return FieldCountFault(record);
        }
        out.loads.push_back(loads);
        return true;
    }

    const RegularFile* file_ = nullptr;
    std::string buffer_;      // what is held of the file
    std::string_view bytes_;  // the bytes held: all of them, or buffer_
    const std::string& name_;
    std::uint64_t expectedSize_;
    std::uint64_t consumed_ = 0;  // bytes of the file before bytes_
    bool atEnd_ = false;
    bool failed_ = false;
    std::size_t pos_ = 0;
    int line_ = 1;        // of the byte at pos_
    int recordLine_ = 1;  // where the record last read starts
    FileError error_;
};

// `content` is left as it was unless the whole file reads.
FileStatus ParseInto(Parser& parser, TestFileContent& content) {
    TestFileContent read;
    if (!parser.Parse(read)) {
        return parser.Error();
    }
    content = std::move(read);
    return {};
}

}  // namespace

FileStatus ParseTestFile(std::string_view bytes, const std::string& name,
                         TestFileContent& content) {
    Parser parser(bytes, name);
    return ParseInto(parser, content);
}

FileStatus ReadTestFile(const std::string& path, TestFileContent& content) {
    const RegularFile file(path);
    if (file.Error() != 0) {
        return SystemFileError(FileOperation::TestFileRead, file.Error(), path);
    }
    Parser parser(file, path);
    return ParseInto(parser, content);
}

}  // namespace kelvaro
