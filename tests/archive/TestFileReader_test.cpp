// Test files read back: whatever the export wrote reads and is written again to the same bytes;
// a file that is not one, or is damaged, is refused by line and leaves what was read before.
#include "archive/TestFileReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <random>

#include "CaseNames.h"
#include "TempDir.h"
#include "archive/StoredRun.h"
#include "archive/TestFileWriter.h"
#include "review/RunReview.h"
#include "settings/RegularFile.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using kelvaro::testing::MakeSocketFile;
using kelvaro::testing::ReadFileBytes;
using kelvaro::testing::TempDir;
using kelvaro::testing::WriteFileBytes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class NoProgress : public ProgressView {
  public:
    void SetMaximum(int /*maximum*/) override {}
    void SetPosition(int /*position*/) override {}
    int Position() const override { return 0; }
    void Show() override {}
    void Close() override {}
};

std::string Export(const std::string& path, const TestFileHeading& heading,
                   std::span<const LoadRecord> loads, char separator) {
    NoProgress progress;
    EXPECT_TRUE(WriteTestFile(path, heading, loads, separator, progress));
    return ReadFileBytes(path);
}

// Loads as plates give them, now and then one that is not a number.
std::vector<LoadRecord> RandomLoads(std::size_t count) {
    std::mt19937_64 random(count);
    std::uniform_real_distribution<double> load(-5000, 5000);
    std::vector<LoadRecord> loads(count);
    for (auto& sample : loads) {
        for (double& value : sample) {
            value = random() % 1000 == 0 ? kNaN : load(random);
        }
    }
    return loads;
}

struct RoundTrip {
    const char* name;
    TestFileHeading heading;
    std::vector<LoadRecord> loads;
    char separator;
};

std::vector<RoundTrip> RoundTrips() {
    const TestFileHeading plain{7, 600, {"COM3", "COM4", "", ""}, {"kgf", "kgf", "un.", "un."}};
    TestFileHeading quoted = plain;
    quoted.units = {"N;m", "\"lb\"", "kg \"f\"; x", "kgf\r\nbruto"};
    TestFileHeading byId = plain;
    byId.testNumber = std::numeric_limits<std::int64_t>::max();
    byId.frequency = 50;
    byId.ports = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "/dev/ttyUSB1",
                  "", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0;x"};
    // "ε" is beyond the code page and is written "?".
    byId.units = {"°C", "µm", "Nε", "kgf·m"};
    TestFileHeading negativeNumber = plain;
    negativeNumber.testNumber = -3;
    return {
        {"QuotedUnits", quoted, {{1, 2, 3, 4}, {5, 6, 7, 8}}, ','},
        {"ByIdPorts", byId, {{0.5, -0.5, 1e-9, 250}}, '.'},
        {"NegativeValues",
         negativeNumber,
         {{-0.0004, -0.0005, -1234.5675, -0.0}, {-12.345, -0.02, -99999.9995, -1}},
         ','},
        {"EmptyFields", plain, {{kNaN, 1.5, kInf, -kInf}, {kNaN, kNaN, kNaN, kNaN}}, '.'},
        {"OnlyEmptyFields", plain, {{kNaN, kNaN, kInf, kNaN}}, ','},
        {"HugeAndHalfway",
         plain,
         {{1e15, -1e20, 123456789012.3456, 9007199254740.993},
          {0.0005, 1.0005, 2.0005, 8388608.25},
          {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 4.5e12 + 0.001,
           std::numeric_limits<double>::denorm_min()}},
         ','},
        {"SingleSample", plain, {{12.345, -0.02, 0, 0}}, ','},
        {"NoSamples", plain, {}, ','},
        {"FullRun", plain, RandomLoads(kMaxSamples), ','},
    };
}

class TestFileRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(TestFileRoundTrip, ReadsWhatTheExportWroteAndWritesTheSameBytesAgain) {
    const RoundTrip& c = GetParam();
    TempDir dir;
    const std::string original = Export(dir.File("a.csv"), c.heading, c.loads, c.separator);

    TestFileContent read;
    ASSERT_TRUE(ReadTestFile(dir.File("a.csv"), read));
    EXPECT_EQ(read.testNumber, c.heading.testNumber);
    EXPECT_EQ(read.frequency, c.heading.frequency);
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        // The texts the file holds: a character beyond the code page was already "?" there.
        EXPECT_EQ(ToWindows1252(read.ports[p]), ToWindows1252(c.heading.ports[p]));
        EXPECT_EQ(ToWindows1252(read.units[p]), ToWindows1252(c.heading.units[p]));
    }
    const bool anyLoad = std::any_of(c.loads.begin(), c.loads.end(), [](const LoadRecord& s) {
        return std::any_of(s.begin(), s.end(), [](double v) { return std::isfinite(v); });
    });
    EXPECT_EQ(read.decimalSeparator, anyLoad ? std::optional(c.separator) : std::nullopt);
    ASSERT_EQ(read.loads.size(), c.loads.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < c.loads.size(); ++i) {
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            const double written = c.loads[i][p];
            const double got = read.loads[i][p];
            const bool same = std::isfinite(written)
                                  ? std::fabs(got - written) <= 0.0005 + std::fabs(written) * 1e-15
                                  : std::isnan(got);
            if (!same && wrong++ == 0) {
                ADD_FAILURE() << "sample " << i + 1 << " plate " << p + 1 << ": wrote " << written
                              << ", read " << got;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);

    const TestFileHeading again{read.testNumber, read.frequency, read.ports, read.units};
    const std::string rewritten =
        Export(dir.File("b.csv"), again, read.loads, read.decimalSeparator.value_or(c.separator));
    const auto differs =
        std::mismatch(original.begin(), original.end(), rewritten.begin(), rewritten.end());
    EXPECT_TRUE(differs.first == original.end() && differs.second == rewritten.end())
        << "first difference at byte " << differs.first - original.begin() << " of "
        << original.size() << " (" << rewritten.size() << " written again)";
}

INSTANTIATE_TEST_SUITE_P(Files, TestFileRoundTrip, ::testing::ValuesIn(RoundTrips()),
                         [](const auto& param) { return std::string(param.param.name); });

// A valid file: rows on lines 11 to 13.
const std::string kHeading =
    "Avalia\xE7\xE3o;7;\r\nFrequ\xEAncia;600;\r\n;\r\nPlaca 1;COM3;\r\nPlaca 2;COM4;\r\n"
    "Placa 3;;\r\nPlaca 4;;\r\n;\r\nAm Geral;Am1: kgf;Am2: kgf;Am3: un.;Am4: un.;\r\n;\r\n";
const std::string kRows =
    "1;12,345;-0,020;0,000;;\r\n2;12,351;-0,018;0,000;;\r\n3;12,360;-0,017;0,000;;\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string ManyRows(std::size_t count) {
    std::string rows;
    for (std::size_t n = 1; n <= count; ++n) {
        rows += std::to_string(n) + ";1,000;2,000;3,000;4,000;\r\n";
    }
    return rows;
}

// What is wrong with a test file, on which line; the file is named when it is read.
FileError Fault(FileErrorKind kind, std::size_t line, std::uint64_t value = 0,
                std::uint64_t otherValue = 0) {
    FileError e;
    e.kind = kind;
    e.operation = FileOperation::TestFileRead;
    e.line = line;
    e.value = value;
    e.otherValue = otherValue;
    return e;
}

FileError OfPlate(FileError e, int plate, std::string text = {}) {
    e.plate = plate;
    e.text = std::move(text);
    return e;
}

FileError Named(FileError e, const std::string& path) {
    e.path = path;
    return e;
}

struct Refusal {
    const char* name;
    std::string bytes;
    FileError error;            // without the file's name
    bool gigabyteHole = false;  // read only from a file whose tail is a gigabyte hole
};

std::vector<Refusal> Refusals() {
    using enum FileErrorKind;
    const std::string file = kHeading + kRows;
    const FileError firstLine = Fault(UnexpectedHeadingLine, 1, 0);
    std::string lineFeeds = file;
    for (std::size_t at; (at = lineFeeds.find("\r\n")) != std::string::npos;) {
        lineFeeds.erase(at, 1);
    }
    return {
        {"Empty", "", Fault(EmptyFile, 1)},
        {"ForeignCsv", "Nome;Idade;\r\nAna;30;\r\n", firstLine},
        {"ForeignCsvWithAnOpenQuote", "Tela 5\";x\r\n\"a;b\r\n", firstLine},
        {"SavedAgainAsUtf8", Replaced(file, "Avalia\xE7\xE3o", "Avaliação"), firstLine},
        {"LineFeedsOnly", lineFeeds, Fault(NoCarriageReturn, 1)},
        {"TestNumberNotANumber", Replaced(file, ";7;", ";sete;"), firstLine},
        {"FrequencyBeyondRange", Replaced(file, ";600;", ";99999999999;"),
         Fault(UnexpectedHeadingLine, 2, 1)},
        {"PortLineUnended", Replaced(file, "COM4;", "COM4"), Fault(UnexpectedHeadingLine, 5, 4)},
        {"PlatesOutOfOrder", Replaced(file, "Placa 1;COM3", "Placa 2;COM3"),
         Fault(UnexpectedHeadingLine, 4, 3)},
        {"UnitColumnRenamed", Replaced(file, "Am3: un.", "Am 3: un."),
         Fault(UnexpectedHeadingLine, 9, 8)},
        {"QuoteNeverClosed", Replaced(file, "Am2: kgf", "\"Am2: kgf"), Fault(OpenQuotes, 9)},
        {"HeadingCut", file.substr(0, file.find("Placa 3")), Fault(EndsInHeading, 6)},
        {"ByteOutsideCodePage", Replaced(file, "COM3", "COM\x81"), Fault(NotWindows1252, 4, 0x81)},
        {"ControlByteInRow",
         Replaced(file, "12,351",
                  "12,\x01"
                  "51"),
         Fault(ControlCharacter, 12, 0x01)},
        {"RowWithTooFewFields", Replaced(file, "2;12,351;-0,018;0,000;;", "2;12,351;-0,018;"),
         Fault(FieldCount, 12, 3)},
        {"RowWithAFieldMore",
         Replaced(file, "2;12,351;-0,018;0,000;;", "2;12,351;-0,018;0,000;;1,000;"),
         Fault(FieldCount, 12, 6)},
        {"RowUnended", Replaced(file, "2;12,351;-0,018;0,000;;", "2;12,351;-0,018;0,000;1,000"),
         Fault(NoFinalSemicolon, 12)},
        {"LoadNotANumber", Replaced(file, "-0,018", "abc"), OfPlate(Fault(NotALoad, 12), 2, "abc")},
        {"LoadWithTwoDecimals", Replaced(file, "-0,018", "-0,01"),
         OfPlate(Fault(NotALoad, 12), 2, "-0,01")},
        {"SampleOutOfSequence", Replaced(file, "2;12,351", "3;12,351"),
         OfPlate(Fault(UnexpectedSample, 12, 2), 0, "3")},
        {"SeparatorChanges", Replaced(file, "3;12,360", "3;12.360"),
         OfPlate(Fault(SeparatorChanged, 13, '.', ','), 1)},
        {"LastLineCut", file.substr(0, file.size() - 2), Fault(IncompleteLine, 13)},
        {"LastLineCutInANumber", file.substr(0, file.size() - 14), Fault(IncompleteLine, 13)},
        {"EmptyLineAtTheEnd", file + "\r\n", Fault(EmptyLine, 14)},
        {"LinesCountedInsideQuotes",
         Replaced(Replaced(file, "Am2: kgf", "\"Am2: k\r\ng\r\nf\""), "2;12,351", "4;12,351"),
         OfPlate(Fault(UnexpectedSample, 14, 2), 0, "4")},
        {"MoreSamplesThanARun", kHeading + ManyRows(kMaxSamples + 1),
         Fault(TooManySamples, 144011, kMaxSamples)},
        {"HugeFileDamagedAtLine11", kHeading + "x" + kRows.substr(1),
         OfPlate(Fault(UnexpectedSample, 11, 1), 0, "x"), true},
        {"HugeFileWithALineLongerThanARun", kHeading + "1;", Fault(LineTooLong, 11, 16 << 20),
         true},
    };
}

class TestFileRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(TestFileRefusal, IsToldByLineAndLeavesWhatWasReadBefore) {
    TestFileContent content;
    content.testNumber = 99;
    content.loads.resize(2);
    const FileStatus parsed = ParseTestFile(GetParam().bytes, "t.csv", content);
    ASSERT_FALSE(parsed);
    EXPECT_TRUE(GetParam().gigabyteHole || parsed.error == Named(GetParam().error, "t.csv"));
    EXPECT_EQ(content.testNumber, 99);
    EXPECT_EQ(content.loads.size(), 2u);

    // The same from a file, read a slice at a time: so never as far as a gigabyte hole, which a
    // size check would refuse as a whole.
    TempDir dir;
    WriteFileBytes(dir.File("t.csv"), GetParam().bytes);
    if (GetParam().gigabyteHole) {
        ASSERT_EQ(truncate(dir.File("t.csv").c_str(), off_t{1} << 30), 0);
    }
    EXPECT_EQ(ReadTestFile(dir.File("t.csv"), content).error,
              Named(GetParam().error, dir.File("t.csv")));
    EXPECT_EQ(content.loads.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Files, TestFileRefusal, ::testing::ValuesIn(Refusals()),
                         [](const auto& param) { return std::string(param.param.name); });

// Read as a test file or as any run picked in " Abrir", what is not a regular file is refused at
// once: should an open wait for a FIFO's writer, the alarm ends the test as a failure.
TEST(TestFileReader, FileThatCannotBeReadIsToldWithTheReason) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo.csv").c_str(), 0600), 0);
    ASSERT_TRUE(MakeSocketFile(dir.File("socket.csv")));
    alarm(60);
    for (const auto& [path, reason] :
         std::vector<std::pair<std::string, int>>{{dir.File("missing.csv"), ENOENT},
                                                  {dir.Path().string(), EISDIR},
                                                  {dir.File("fifo.csv"), kNotARegularFile},
                                                  {dir.File("socket.csv"), kNotARegularFile},
                                                  {"/dev/null", kNotARegularFile},
                                                  {"/dev/zero", kNotARegularFile}}) {
        TestFileContent content;
        StoredRun run;
        const FileError expected = SystemFileError(FileOperation::TestFileRead, reason, path);
        EXPECT_EQ(ReadTestFile(path, content).error, expected);
        EXPECT_EQ(ReadStoredRun(path, run).error, expected);
    }
    alarm(0);
}

// Random damage to a valid file never crashes the reader: it reads the file or names a line
// the file has.
TEST(TestFileReader, DamagedFilesAreReadOrRefusedByLine) {
    const std::string valid =
        Replaced(kHeading, "Am2: kgf", "\"Am2: k;\"\"g\"\"\r\nf\"") + kRows + "4;;;;-1,500;\r\n";
    std::mt19937 random(13);
    const std::string alphabet = ";\"\r\n,.-09a \x81\x01\xE7";
    int read = 0;
    int refused = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = valid;
        for (int k = 1 + static_cast<int>(random() % 3); k > 0 && !bytes.empty(); --k) {
            const std::size_t at = random() % bytes.size();
            const char c = random() % 4 == 0 ? static_cast<char>(random())
                                             : alphabet[random() % alphabet.size()];
            switch (random() % 5) {
                case 0:
                    bytes[at] = c;
                    break;
                case 1:
                    bytes.erase(at, 1 + random() % 8);
                    break;
                case 2:
                    bytes.insert(at, 1, c);
                    break;
                case 3:
                    bytes.resize(at);
                    break;
                default:
                    bytes.insert(at, bytes.substr(random() % bytes.size(), random() % 40));
            }
        }
        TestFileContent content;
        const FileStatus parsed = ParseTestFile(bytes, "t.csv", content);
        if (parsed) {
            ++read;
            continue;
        }
        ++refused;
        const FileError& error = *parsed.error;
        ASSERT_NE(error.kind, FileErrorKind::System);
        EXPECT_EQ(error.path, "t.csv");
        EXPECT_GE(error.line, 1U);
        EXPECT_LE(error.line,
                  static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    }
    // Both outcomes were met, so the damage was neither always fatal nor always harmless.
    EXPECT_GT(read, 500);
    EXPECT_GT(refused, 5000);
}

}  // namespace
}  // namespace kelvaro
