// The test export: the file byte for byte, numbering in the settings, failures that must leave
// earlier files intact, CSV quoting, the code page and the fast number formatting.
#include "archive/RunArchive.h"
#include "archive/TestFileWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <limits>
#include <random>

#include "CaseNames.h"
#include "ScriptedDialogs.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "device/SerialChannel.h"
#include "settings/NumberText.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using kelvaro::testing::ReadFileBytes;

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state.config.settingsPath = dir.File("settings.ini");
        state.config.decimalSeparator = ',';
    }
    void Set(const std::string& key, const std::string& value) {
        SettingsStore store(state.config.settingsPath);
        store.WriteString(kSettingsSection, key, value);
        ASSERT_TRUE(store.Close());
    }
    std::optional<std::string> Get(const std::string& key) {
        SettingsStore store(state.config.settingsPath);
        if (!store.KeyExists(kSettingsSection, key)) {
            return std::nullopt;
        }
        return store.ReadString(kSettingsSection, key, "");
    }
    void Export() {
        StoredRun stopped;
        stopped.loads = loads;
        archive.SaveStoppedRun(std::move(stopped), nullptr);
    }
    std::vector<std::string> FilesInFolder() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            if (e.path().filename().string().rfind("settings.ini", 0) == 0) {
                continue;  // the store and its lock
            }
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    kelvaro::testing::TempDir dir;
    StationState state;
    std::vector<LoadRecord> loads;
    kelvaro::testing::ScriptedDialogs dialogs;
    kelvaro::testing::FakeProgress progress;
    RunArchive archive{state, dialogs, progress, dir.Path().string()};
};

TEST_F(ExportTest, WritesTheTestByteForByteInWindows1252) {
    Set("Teste", "6");
    Set("u1", "kgf");
    Set("u2", "kgf");
    state.config.platePort = {"COM3", "COM4", "", ""};
    state.config.testFrequency = 100;
    loads = {{12.345, -0.020, 0, 0},
             {12.351, -0.018, 0, -0.0},
             // Not a load: left empty rather than written as a text in a column of numbers.
             {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity(), 1}};
    const std::string path = dir.File("Kelvaro_7.csv");
    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {path};

    Export();
    EXPECT_EQ(ReadFileBytes(path),
              "Avalia\xE7\xE3o;7;\r\nFrequ\xEAncia;100;\r\n;\r\nPlaca 1;COM3;\r\n"
              "Placa 2;COM4;\r\nPlaca 3;;\r\nPlaca 4;;\r\n;\r\n"
              "Am Geral;Am1: kgf;Am2: kgf;Am3: un.;Am4: un.;\r\n;\r\n"
              "1;12,345;-0,020;0,000;0,000;\r\n2;12,351;-0,018;0,000;0,000;\r\n"
              "3;;;;1,000;\r\n");
    EXPECT_EQ(Get("Teste"), "7");
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].fileName, "Kelvaro_7");
    EXPECT_EQ(dialogs.saveRequests[0].defaultExtension, ".csv");
    EXPECT_EQ(dialogs.saveRequests[0].filter, "Arquivos do Microsoft Excel (*.csv)|*.csv");
    EXPECT_EQ(dialogs.saveRequests[0].initialFolder, dir.Path().string());
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].title, "Kelvaro - Salvar");
    EXPECT_EQ(dialogs.messages[0].buttons, DialogButtons::YesNo);
    EXPECT_EQ(dialogs.messages[0].icon, DialogIcon::Question);
    EXPECT_EQ(dialogs.messages[1].text, "O exportação para o Excel foi concluída com sucesso");
    EXPECT_EQ(dialogs.messages[1].title, "Kelvaro");
    EXPECT_EQ(dialogs.messages[1].icon, DialogIcon::Information);
    EXPECT_EQ(dialogs.openedFiles, std::vector<std::string>{path});
    EXPECT_EQ(progress.maximum, 3);
    EXPECT_EQ(progress.positionCalls, 4);  // 0, then one per row
    EXPECT_FALSE(progress.skipped);
    EXPECT_EQ(progress.shows, 1);
    EXPECT_EQ(progress.closes, 1);
}

TEST_F(ExportTest, TestNumberIsTakenOnceTheSaveIsAccepted) {
    Export();  // "No"
    EXPECT_EQ(Get("Teste"), std::nullopt);
    EXPECT_TRUE(dialogs.saveRequests.empty());

    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {std::nullopt};
    Export();  // the save dialog is cancelled: the number stays used
    EXPECT_EQ(Get("Teste"), "1");
    EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_1");

    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {dir.File("Kelvaro_2.csv")};
    Export();
    EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_2");
    EXPECT_EQ(Get("Teste"), "2");
    // No samples: the ten heading lines only.
    const std::string bytes = ReadFileBytes(dir.File("Kelvaro_2.csv"));
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 10);
}

struct Numbering {
    const char* stored;
    const char* next;
    const char* afterThat;
};

void PrintTo(const Numbering& n, std::ostream* out) {
    *out << "Teste=" << n.stored;
}

class TestNumbering : public ExportTest, public ::testing::WithParamInterface<Numbering> {};

// Two saves in a row: the number each one stores is one the next can read.
TEST_P(TestNumbering, EveryStoredNumberReadsBack) {
    Set("Teste", GetParam().stored);
    for (const char* expected : {GetParam().next, GetParam().afterThat}) {
        dialogs.answers = {DialogResult::Yes};
        dialogs.saveFiles = {std::nullopt};
        Export();
        EXPECT_EQ(dialogs.saveRequests.back().fileName, std::string("Kelvaro_") + expected);
        EXPECT_EQ(Get("Teste"), expected);
    }
    EXPECT_EQ(dialogs.messages.size(), 2u);  // the two save questions, no error
}

INSTANTIATE_TEST_SUITE_P(Stored, TestNumbering,
                         ::testing::Values(Numbering{"2147483647", "2147483648", "2147483649"},
                                           Numbering{"+41", "42", "43"},
                                           // The largest the store can read back is followed by 1.
                                           Numbering{"9223372036854775806", "9223372036854775807",
                                                     "1"}),
                         [](const auto& param) { return "After" + std::string(param.param.next); });

TEST_F(ExportTest, NonIntegerTestNumberIsReportedAndKept) {
    for (const std::string bad : {"abc", "7x", "1,5", ""}) {
        Set("Teste", bad);
        dialogs.messages.clear();
        dialogs.answers = {DialogResult::Yes};
        Export();
        EXPECT_EQ(dialogs.Last().text, "'" + bad + "' não é um valor inteiro válido.");
        EXPECT_EQ(dialogs.Last().title, kApplicationTitle);
        EXPECT_EQ(Get("Teste"), bad);
        EXPECT_TRUE(dialogs.saveRequests.empty());
    }
}

// A FIFO, socket or device at the chosen name (a link to one too) may be another program's: the
// rename would put the test in its place.
TEST_F(ExportTest, UnwritablePlacesAreReportedWithTheReason) {
    kelvaro::testing::WriteFileBytes(dir.File("plain"), "x");
    ASSERT_EQ(mkfifo(dir.File("fifo.csv").c_str(), 0600), 0);
    ASSERT_TRUE(kelvaro::testing::MakeSocketFile(dir.File("socket.csv")));
    std::filesystem::create_symlink("/dev/null", dir.File("device.csv"));
    const std::vector<std::pair<std::string, std::string>> cases{
        {dir.File("plain") + "/Kelvaro_1.csv", "Um componente do caminho não é uma pasta"},
        {dir.File("missing") + "/Kelvaro_2.csv", "A pasta não existe"},
        {dir.Path().string(), "O nome indica uma pasta"},
        {dir.File("fifo.csv"), "Não é um arquivo comum"},
        {dir.File("socket.csv"), "Não é um arquivo comum"},
        {dir.File("device.csv"), "Não é um arquivo comum"}};
    for (const auto& [path, reason] : cases) {
        dialogs.answers = {DialogResult::Yes};
        dialogs.saveFiles = {path};
        dialogs.messages.clear();
        Export();
        EXPECT_EQ(dialogs.Texts().back(),
                  "Não foi possível gravar o arquivo " + path + ": " + reason + ".");
        EXPECT_TRUE(dialogs.openedFiles.empty());
    }
    EXPECT_EQ(FilesInFolder(),
              (std::vector<std::string>{"device.csv", "fifo.csv", "plain", "socket.csv"}));
    EXPECT_TRUE(std::filesystem::is_fifo(dir.File("fifo.csv")));
    EXPECT_TRUE(std::filesystem::is_socket(dir.File("socket.csv")));
    EXPECT_TRUE(std::filesystem::is_character_file(dir.File("device.csv")));
    EXPECT_EQ(progress.shows, progress.closes);
}

// Running out of room in the middle of the rows (simulated with the file-size limit, which
// fails the write with EFBIG as a full disk fails it with ENOSPC) keeps the earlier file.
TEST_F(ExportTest, FailureWhileWritingKeepsTheEarlierFile) {
    const std::string path = dir.File("Kelvaro_3.csv");
    kelvaro::testing::WriteFileBytes(path, "earlier test");
    loads.resize(5000);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileStatus written = WriteTestFile(path, {}, loads, ',', progress);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(written.error, SystemFileError(FileOperation::TestFileWrite, EFBIG, path));
    EXPECT_EQ(ReadFileBytes(path), "earlier test");
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"Kelvaro_3.csv"});
    EXPECT_EQ(progress.closes, 1);
}

// A settings folder the station cannot write to (here a regular file in its path, which
// stops root as well): each test still gets a number of its own in this run, and the operator
// is told once that the number is not kept.
TEST_F(ExportTest, AnUnstorableTestNumberIsToldOnceAndStillAdvances) {
    kelvaro::testing::WriteFileBytes(dir.File("plain"), "x");
    state.config.settingsPath = dir.File("plain/settings.ini");
    for (int n = 1; n <= 2; ++n) {
        dialogs.answers = {DialogResult::Yes};
        dialogs.saveFiles = {dir.File("Kelvaro_" + std::to_string(n) + ".csv")};
        Export();
        EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_" + std::to_string(n));
        const std::string bytes = ReadFileBytes(dir.File("Kelvaro_" + std::to_string(n) + ".csv"));
        EXPECT_EQ(bytes.substr(0, bytes.find("\r\n")),
                  "Avalia\xE7\xE3o;" + std::to_string(n) + ";");
    }
    const auto warnings =
        std::count_if(dialogs.messages.begin(), dialogs.messages.end(),
                      [](const auto& m) { return m.icon == DialogIcon::Warning; });
    EXPECT_EQ(warnings, 1);
    const auto& told = dialogs.messages[1];
    EXPECT_EQ(told.title, "Kelvaro - Salvar");
    EXPECT_NE(told.text.find("plain/settings.ini"), std::string::npos) << told.text;
    EXPECT_NE(told.text.find("O teste 1 será salvo, mas seu número não ficou guardado"),
              std::string::npos)
        << told.text;

    // Once the settings can be written again, numbering goes on from the stored value and a
    // later failure is told again.
    state.config.settingsPath = dir.File("settings.ini");
    Set("Teste", "8");
    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {std::nullopt};
    Export();
    EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_9");
    EXPECT_EQ(Get("Teste"), "9");
    state.config.settingsPath = dir.File("plain/settings.ini");
    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {std::nullopt};
    Export();
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Warning);
}

struct LeftoverCase {
    const char* name;
    const char* file;
    int ageSeconds;
    bool lockedByAnotherExport;
    bool removed;
};

class LeftoverTemporary : public ExportTest, public ::testing::WithParamInterface<LeftoverCase> {};

// A kill during an export leaves its hidden temporary beside the target; the next export to
// the folder removes it, but never a file that is not the station's or one still being written.
TEST_P(LeftoverTemporary, IsRemovedByTheNextExportOnlyWhenStale) {
    const LeftoverCase& c = GetParam();
    const std::string leftover = dir.File(c.file);
    kelvaro::testing::WriteFileBytes(leftover, "1;12,345;0,000;0,000;0,0");
    const auto then = std::chrono::system_clock::now() - std::chrono::seconds(c.ageSeconds);
    const timespec times[2] = {{std::chrono::system_clock::to_time_t(then), 0},
                               {std::chrono::system_clock::to_time_t(then), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, leftover.c_str(), times, 0), 0);
    const int lock = open(leftover.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    if (c.lockedByAnotherExport) {
        ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    }

    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {dir.File("Kelvaro_2.csv")};
    Export();
    close(lock);
    EXPECT_EQ(dialogs.Last().text, "O exportação para o Excel foi concluída com sucesso");
    std::vector<std::string> expected{"Kelvaro_2.csv"};
    if (!c.removed) {
        expected.push_back(c.file);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesInFolder(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Export, LeftoverTemporary,
    ::testing::Values(
        LeftoverCase{"OfAKilledExport", ".Kelvaro_1.csv.kelvaro-tmp-a1B2c3", 3600, false, true},
        LeftoverCase{"OfAnExportStillWriting", ".Kelvaro_1.csv.kelvaro-tmp-a1B2c3", 3600, true,
                     false},
        // Created a moment ago: its export may not have locked it yet.
        LeftoverCase{"JustCreated", ".Kelvaro_1.csv.kelvaro-tmp-a1B2c3", 0, false, false},
        LeftoverCase{"NotTheStations", ".Kelvaro_1.csv.a1B2c3", 3600, false, false},
        LeftoverCase{"NotHidden", "Kelvaro_1.csv.kelvaro-tmp-a1B2c3", 3600, false, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ExportTest, TextsThatWouldShiftColumnsAreQuoted) {
    TestFileHeading heading;
    heading.ports = {"COM3", "a;b", "", "x\"y"};
    heading.units = {"kg;f", "N", "l\r\nb", "un."};
    const std::string path = dir.File("q.csv");
    ASSERT_TRUE(WriteTestFile(path, heading, {}, ',', progress));
    const std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("Placa 2;\"a;b\";\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Placa 4;\"x\"\"y\";\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Am Geral;\"Am1: kg;f\";Am2: N;\"Am3: l\r\nb\";Am4: un.;\r\n"),
              std::string::npos);
}

TEST(Windows1252, MapsWhatTheCodePageHasAndNothingElse) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Avaliação", "Avalia\xE7\xE3o"},
        {"\xE2\x82\xAC 5 \xE2\x80\x93 \xC5\x93", "\x80 5 \x96 \x9C"},  // euro, en dash, oe
        {"\xC2\x81", "?"},                                             // C1 control
        {"a\x01"
         "b\x7F",
         "a?b?"},                                                // controls
        {"\xE2\x86\x92\xF0\x9F\x98\x80", "??"},                  // arrow, emoji
        {"\xC3\x28 \xFF \xC0\xAF \xED\xA0\x80", "?( ? ?? ???"},  // not UTF-8
        {"tab\tCR\rLF\n", "tab\tCR\rLF\n"},
    };
    for (const auto& [utf8, expected] : cases) {
        EXPECT_EQ(ToWindows1252(utf8), expected) << utf8;
    }
}

TEST(ThreeDecimals, AgreesWithTheStationsNumberTexts) {
    std::vector<double> values{
        0.0,      -0.0,  0.0005,    -0.0005,    0.00049, 1.0005, -2.0005, 9.9995,
        999.9996, -0.02, 12.345,    8388608.25, 1e-300,  -1e-5,  0.00051, 99999999999999.99,
        1e15,     -3e20, 16777215.0};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-6, 14);
    for (int i = 0; i < 200000; ++i) {
        const double magnitude = std::pow(10.0, exponent(random));
        values.push_back((i % 2 ? -1 : 1) * magnitude);
        values.push_back(std::round(magnitude * 1000) / 1000);
        values.push_back((std::round(magnitude * 1000) + 0.5) / 1000);  // ties in text form
        values.push_back(std::nextafter(values.back(), 0.0));
    }
    for (double v : values) {
        for (char separator : {',', '.'}) {
            std::string fast;
            AppendThreeDecimals(fast, v, separator);
            ASSERT_EQ(fast, FormatNumber(v, NumberPattern::ThreeDecimals, separator)) << v;
        }
    }
}

// Values the row writer decides in fixed point next to the ones where that would go wrong:
// half-thousandths in text form and the doubles a few ulps either side, negative as well as
// positive, across the load range and at the limits of its faster paths (five whole digits,
// the largest magnitude it takes, values that round to zero).
TEST(ThreeDecimals, AgreesNextToTiesAndPathLimits) {
    std::vector<double> centres;
    for (int n = -60000; n <= 1600000; n += 11) {  // -60 to 1600 in thousandths
        centres.push_back((n + 0.5) / 1000);
        centres.push_back(n / 1000.0);
    }
    for (double c :
         {0.0005, 0.0015, 99999.9995, 99999.9994, 100000.0005, 99999999.9995, 98999999.9995,
          99000000.0, 1e8, 4503599627370.4995, 0.00049999999999999, 1e-310}) {
        centres.push_back(c);
    }
    std::mt19937_64 random(11);
    std::uniform_int_distribution<std::int64_t> thousandths(0, 99'000'000'000);
    for (int i = 0; i < 20000; ++i) {
        centres.push_back((static_cast<double>(thousandths(random)) + 0.5) / 1000);
    }
    std::vector<double> values;
    for (double c : centres) {
        double below = c;
        double above = c;
        for (int step = 0; step < 4; ++step) {
            for (double v : {below, above}) {
                values.push_back(v);
                values.push_back(-v);
            }
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1e300);
        }
    }
    for (double v : values) {
        std::string fast;
        AppendThreeDecimals(fast, v, ',');
        ASSERT_EQ(fast, FormatNumber(v, NumberPattern::ThreeDecimals, ',')) << v;
    }
}

// A row's numbers and fields as the file holds them, against the same texts put together one
// by one, including the row numbers where their length changes.
TEST(ThreeDecimals, RowsOfALongTestMatchTheirFieldsOneByOne) {
    kelvaro::testing::TempDir dir;
    std::vector<LoadRecord> samples(100002);
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> load(-99.0, 120000.0);
    for (auto& record : samples) {
        for (auto& v : record) {
            v = std::round(load(random) * 2000) / 2000;  // half of them on a tie in text form
        }
    }
    samples[9] = {-0.0, -0.0004, 0.0005, -99999.9996};
    kelvaro::testing::FakeProgress progress;
    const std::string path = dir.File("rows.csv");
    ASSERT_TRUE(WriteTestFile(path, {}, samples, '.', progress));
    std::string expected;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        expected += std::to_string(i + 1) + ";";
        for (double v : samples[i]) {
            expected += FormatNumber(v, NumberPattern::ThreeDecimals, '.') + ";";
        }
        expected += "\r\n";
    }
    const std::string bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), expected.size());
    const std::string rows = bytes.substr(bytes.size() - expected.size());
    EXPECT_TRUE(rows == expected);  // not printed whole: 4 MB
    EXPECT_NE(bytes.find("\r\n10;0.000;0.000;0.001;-100000.000;\r\n"), std::string::npos);
    EXPECT_EQ(progress.positionCalls, 100003);
    EXPECT_FALSE(progress.skipped);
}

}  // namespace
}  // namespace kelvaro
