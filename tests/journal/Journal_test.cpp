// The run journal against what it exists for: a run killed mid-way, a damaged file, a full disk,
// a folder that would only grow; and the round trip of what a run needs to be drawn again.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <thread>

#include "CaseNames.h"
#include "TempDir.h"
#include "journal/Journal.h"
#include "settings/RegularFile.h"

namespace kelvaro {
namespace {

using testing::PrintTo;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

using SystemClock = std::chrono::system_clock;
const SystemClock::time_point kStart{std::chrono::milliseconds(1796708412345)};

JournalDescription Describe(std::uint32_t active, SystemClock::time_point start = kStart) {
    JournalDescription d;
    d.start = start;
    d.frequency = 600;
    for (std::size_t i = 0; i < d.plates.size(); ++i) {
        JournalPlate& p = d.plates[i];
        p.active = (active & (1U << i)) != 0;
        p.port = "/dev/ttyUSB" + std::to_string(i);
        p.unit = i == 1 ? "kgf" : "N";
        p.calibration.zeroOffset = 8388608.5 + static_cast<double>(i);
        p.calibration.index = 1000.25 * static_cast<double>(i + 1);
        p.calibration.tare = -0.125 * static_cast<double>(i);
    }
    return d;
}

// The plates in counter mode: report k of every plate carries k, modulo 2^24.
RawRecord Counter(std::uint64_t k) {
    const auto v = static_cast<std::uint32_t>(k % (1U << 24));
    return {v, v, v, v};
}

// Counts the records that differ from the counter's, so one bad record fails without
// printing thousands.
std::size_t CounterMismatches(const std::vector<RawRecord>& records) {
    std::size_t bad = 0;
    for (std::size_t k = 0; k < records.size(); ++k) {
        bad += records[k] != Counter(k);
    }
    return bad;
}

std::int64_t Milliseconds(SystemClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

constexpr auto kFiveYears = std::chrono::hours(24 * 365 * 5);

// Names a journal and dates its file at the `n`-th minute (n < 10) past 10:00 on 1 June 2028,
// as a station whose clock was ahead would leave it, so neither orders it before today's runs.
void DateIn2028(const std::string& path, int n) {
    const auto moved = std::filesystem::path(path).replace_filename("run-2028-06-01T10-0" +
                                                                    std::to_string(n) + "-00.kjr");
    std::filesystem::rename(path, moved);
    const timespec times[2]{{1843466400 + 60 * n, 0}, {1843466400 + 60 * n, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, moved.c_str(), times, 0), 0);
}

enum class Ending { Closed, Crashed, AtSaveQuestion };

// A run of `records` records on plates 1 and 2, ended as `ending` says (a crash: its writer
// gone without a word).
std::string WriteRun(const std::string& folder, SystemClock::time_point start, std::size_t records,
                     Ending ending) {
    JournalWriter writer;
    EXPECT_TRUE(writer.Open(folder, Describe(0b0011, start)));
    writer.Append(std::vector<RawRecord>(records));
    EXPECT_TRUE(ending == Ending::Crashed ||
                (ending == Ending::Closed ? writer.Close(0) : writer.AwaitAnswer()));
    return writer.Path();
}

FileError Fault(FileErrorKind kind, std::uint64_t value = 0, std::uint64_t otherValue = 0,
                int plate = 0) {
    FileError e;
    e.kind = kind;
    e.value = value;
    e.otherValue = otherValue;
    e.plate = plate;
    return e;
}

// The same as a call names it.
FileError Told(FileError e, FileOperation operation, const std::string& path) {
    e.operation = operation;
    e.path = path;
    return e;
}

// A writer's failure as a child process hands it over: what was done, the errno and the file.
std::string Summary(const std::optional<FileError>& e) {
    return e ? std::to_string(static_cast<int>(e->operation)) + " " +
                   std::to_string(e->systemError) + " " + e->path
             : "";
}

// Runs `body` in a child process that ends with its return value.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    return pid;
}

struct RoundTripCase {
    const char* name;
    std::uint32_t active;
    std::size_t records;
    std::int64_t closeNumber;
    std::int64_t laterNumber;  // given after the close, from the recent list; -1: none
    std::string port1;
    std::string unit4;
    const char* folder = "kelvaro";  // "file/kelvaro": a file stands where a folder must be
    // What Open is expected to refuse with instead, given the folder.
    std::function<FileError(const std::string& folder)> refusal = nullptr;
    RunMetadata metadata{};
    std::optional<RunMetadata> kept{};         // when the texts pass their limits
    std::optional<RunMetadata> editedLater{};  // given after the close
};

std::string Repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

class JournalRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(JournalRoundTrip, ReadsBackWhatWasWritten) {
    const RoundTripCase& c = GetParam();
    TempDir dir;
    WriteFileBytes(dir.File("file"), "");
    const std::string folder = dir.File(c.folder);
    JournalDescription d = Describe(c.active);
    d.plates[0].port = c.port1;
    d.plates[3].unit = c.unit4;
    d.runId = NewRunId();
    d.metadata = c.metadata;

    JournalWriter writer;
    if (c.refusal) {
        ASSERT_FALSE(writer.Open(folder, d));
        EXPECT_EQ(writer.TakeError(), c.refusal(folder));
        EXPECT_TRUE(ListJournals(folder).empty());
        return;
    }
    ASSERT_TRUE(writer.Open(folder, d));
    EXPECT_EQ(std::filesystem::path(writer.Path()).parent_path(), folder);
    std::vector<RawRecord> written;
    for (std::uint32_t k = 0; k < c.records; ++k) {
        // Each plate's field distinct, and an idle one as the run left it.
        const RawRecord r{k, 0xFFFFFFU - k, c.active & 4 ? k * 7 : 0, 0x800000U + k};
        writer.Append({&r, 1});
        written.push_back(r);
    }
    ASSERT_TRUE(writer.Close(c.closeNumber));
    if (c.laterNumber >= 0) {
        ASSERT_TRUE(SetJournalTestNumber(writer.Path(), c.laterNumber));
    }
    if (c.editedLater) {
        ASSERT_TRUE(SetJournalMetadata(writer.Path(), *c.editedLater));
    }
    EXPECT_FALSE(writer.TakeError().has_value());
    EXPECT_TRUE(FindUnclosedJournals(folder).empty());

    JournalContents back;
    ASSERT_TRUE(ReadJournal(writer.Path(), back));
    const JournalDescription& b = back.description;
    EXPECT_EQ(Milliseconds(b.start), Milliseconds(d.start));
    EXPECT_EQ(b.frequency, d.frequency);
    EXPECT_EQ(b.testNumber, c.laterNumber >= 0 ? c.laterNumber : c.closeNumber);
    EXPECT_EQ(b.state, JournalState::Closed);
    EXPECT_EQ(b.closedCount, c.records);
    EXPECT_EQ(b.version, 3U);
    EXPECT_EQ(b.runId, d.runId);
    EXPECT_EQ(b.metadata, c.editedLater.value_or(c.kept.value_or(c.metadata)));
    for (std::size_t i = 0; i < d.plates.size(); ++i) {
        SCOPED_TRACE("Placa " + std::to_string(i + 1));
        EXPECT_EQ(b.plates[i].active, d.plates[i].active);
        EXPECT_EQ(b.plates[i].port, d.plates[i].port);
        EXPECT_EQ(b.plates[i].unit, d.plates[i].unit);
        const PlateCalibration& kept = b.plates[i].calibration;
        const PlateCalibration& given = d.plates[i].calibration;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(kept.zeroOffset),
                  std::bit_cast<std::uint64_t>(given.zeroOffset));
        EXPECT_EQ(kept.index, given.index);
        EXPECT_EQ(kept.tare, given.tare);
    }
    EXPECT_EQ(back.records, written);
    const auto list = ListJournals(folder);
    ASSERT_EQ(list.size(), 1U);
    EXPECT_EQ(list[0].sampleCount, c.records);
    EXPECT_EQ(list[0].description.testNumber, b.testNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JournalRoundTrip,
    ::testing::Values(
        RoundTripCase{"EmptyRunNotSaved", 0b0001, 0, 0, -1, "/dev/ttyS0", "kgf"},
        RoundTripCase{"FourPlatesSavedAtTheStop", 0b1111, 1000, 17, -1, "/dev/ttyUSB0", "N"},
        RoundTripCase{"SavedLaterFromTheRecentList", 0b1011, 600, 0, INT64_MAX, "/dev/ttyACM0",
                      "lbf"},
        RoundTripCase{"LongestTextsAndAccents", 0b0101, 3, 2, -1, std::string(255, 'p'),
                      "daN·m µε " + std::string(243, 'u')},
        // A text that cannot be kept whole is refused rather than kept cut.
        RoundTripCase{"UnitTooLongIsRefused", 0b0001, 0, 0, -1, "/dev/ttyS0", std::string(256, 'u'),
                      "kelvaro",
                      [](const std::string&) {
                          return Told(Fault(FileErrorKind::UnitTooLong, 255, 0, 4),
                                      FileOperation::JournalCreate, "");
                      }},
        RoundTripCase{"FolderCannotBeMade", 0b0001, 0, 0, -1, "/dev/ttyS0", "kgf", "file/kelvaro",
                      [](const std::string& folder) {
                          return SystemFileError(FileOperation::JournalCreate, ENOTDIR, folder);
                      }},
        // Every field full of 4-byte characters: no room left for a NUL, and none needed.
        RoundTripCase{
            "TextsAtTheirLimits", 0b0001, 1, 0, -1, "/dev/ttyS0", "N", "kelvaro", nullptr,
            RunMetadata{Repeated("\xF0\x9F\x98\x80", 100), Repeated("\xF0\x9F\x98\x80", 60),
                        Repeated("\xF0\x9F\x98\x80", 2000)}},
        // Cut at a code point (or at a NUL, which a field cannot hold), never refused.
        RoundTripCase{
            "TextsPastTheirLimitsAreCut", 0b0001, 1, 0, -1, "/dev/ttyS0", "N", "kelvaro", nullptr,
            RunMetadata{Repeated("é", 101), std::string("Salto\0CMJ", 9),
                        Repeated("ç", 1999) + "\xF0\x9F\x98\x80z"},
            RunMetadata{Repeated("é", 100), "Salto", Repeated("ç", 1999) + "\xF0\x9F\x98\x80"}},
        // A shorter text rewritten over a longer one leaves nothing of it.
        RoundTripCase{"TextsEditedAfterTheRun", 0b0001, 60, 9, -1, "/dev/ttyS0", "N", "kelvaro",
                      nullptr,
                      RunMetadata{"João Conceição", "Salto",
                                  "joelho \xF0\x9F\xA6\xB5" + std::string(1500, 'o')},
                      std::nullopt, RunMetadata{"Ana Lúcia", "", "sem dor"}}),
    [](const auto& param) { return std::string(param.param.name); });

// A run at 600 Hz on four plates in counter mode, killed with SIGKILL after a few seconds: the
// journal, left open, holds the run's records exactly up to at most a second before the kill,
// and is what recovery finds. A power cut would keep only what the last sync made durable: that
// never lags the run by much more than a second either.
TEST(JournalKill, KilledRunKeepsEverySampleUpToOneSecondBeforeTheKill) {
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    struct Progress {
        std::atomic<std::uint64_t> appended{0};
        std::atomic<std::uint64_t> durable{0};
    };
    void* shared =
        mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* progress = new (shared) Progress;

    const pid_t pid = Spawn([&] {
        JournalWriter writer;
        if (!writer.Open(folder, Describe(0b1111))) {
            return 2;
        }
        const auto start = std::chrono::steady_clock::now();
        for (std::uint64_t k = 0; k < 600 * 60; ++k) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(k * 1000000 / 600));
            const RawRecord r = Counter(k);
            writer.Append({&r, 1});
            progress->durable.store(writer.DurableRecords());
            progress->appended.store(k + 1);
        }
        return 3;  // not killed in a minute
    });
    ASSERT_GT(pid, 0);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::uint64_t longestLag = 0;
    while (progress->appended.load() < 600 * 3 && std::chrono::steady_clock::now() < giveUp) {
        const std::uint64_t durable = progress->durable.load();
        longestLag = std::max(longestLag, progress->appended.load() - durable);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // About a second: the sync period and one write period, with room for a loaded machine.
    EXPECT_LE(longestLag, 600U * 3 / 2) << "records a power cut would have lost at worst";
    EXPECT_GT(progress->durable.load(), 0U);
    // While the writer lives its journal is in use, not a crashed run, and stays open.
    EXPECT_TRUE(FindUnclosedJournals(folder).empty());
    const auto live = ListJournals(folder);
    ASSERT_EQ(live.size(), 1U);
    EXPECT_EQ(CloseJournal(live[0].path).error,
              Told(Fault(FileErrorKind::StillBeingWritten), FileOperation::JournalCloseLeftOpen,
                   live[0].path));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself with " << WEXITSTATUS(status);
    const std::uint64_t atKill = progress->appended.load();
    munmap(shared, sizeof(Progress));

    const auto found = FindUnclosedJournals(folder);
    ASSERT_EQ(found.size(), 1U);
    const JournalSummary* unclosed = &found[0];
    EXPECT_FALSE(unclosed->damage.has_value());
    EXPECT_EQ(unclosed->description.state, JournalState::Open);
    JournalContents back;
    ASSERT_TRUE(ReadJournal(unclosed->path, back));
    EXPECT_EQ(unclosed->sampleCount, back.records.size());
    EXPECT_EQ(CounterMismatches(back.records), 0U);
    ASSERT_LE(back.records.size(), atKill);
    EXPECT_LE(atKill - back.records.size(), 600U)
        << back.records.size() << " of " << atKill << " samples kept";

    // Recovered or declined, it is closed with what it holds and not offered again.
    ASSERT_TRUE(CloseJournal(unclosed->path));
    EXPECT_TRUE(FindUnclosedJournals(folder).empty());
    JournalContents closed;
    ASSERT_TRUE(ReadJournal(unclosed->path, closed));
    EXPECT_EQ(closed.description.state, JournalState::Stopped);
    EXPECT_EQ(closed.records, back.records);
}

struct DamageCase {
    const char* name;
    std::function<void(std::string&)> damage;
    std::optional<FileError> expected;  // none when the journal still reads
    std::size_t records = 0;
};

void PutU32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(v >> (8 * i));
    }
}

void PutU64(std::string& bytes, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[at + i] = static_cast<char>(v >> (8 * i));
    }
}

class JournalDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(JournalDamage, IsRefusedNamingTheFileAndTheFault) {
    TempDir dir;
    JournalWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("kelvaro"), Describe(0b0011)));
    for (std::uint64_t k = 0; k < 10; ++k) {
        const RawRecord r = Counter(k);
        writer.Append({&r, 1});
    }
    ASSERT_TRUE(writer.Close(4));
    std::string bytes = ReadFileBytes(writer.Path());
    GetParam().damage(bytes);
    WriteFileBytes(writer.Path(), bytes);

    JournalContents back;
    const FileStatus read = ReadJournal(writer.Path(), back);
    if (!GetParam().expected) {
        ASSERT_TRUE(read);
        EXPECT_EQ(back.records.size(), GetParam().records);
        EXPECT_EQ(CounterMismatches(back.records), 0U);
        return;
    }
    EXPECT_EQ(read.error, Told(*GetParam().expected, FileOperation::JournalRead, writer.Path()));
    const auto list = ListJournals(dir.File("kelvaro"));
    ASSERT_EQ(list.size(), 1U);
    EXPECT_EQ(list[0].damage, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, JournalDamage,
                         ::testing::Values(DamageCase{"NotAJournal",
                                                      [](std::string& b) {
                                                          b = "Avaliação;1;\r\nFrequência;600;\r\n";
                                                      },
                                                      Fault(FileErrorKind::NotAJournal)},
                                           DamageCase{"Empty", [](std::string& b) { b.clear(); },
                                                      Fault(FileErrorKind::NotAJournal)},
                                           DamageCase{"HeaderCutShort",
                                                      [](std::string& b) { b.resize(1000); },
                                                      Fault(FileErrorKind::HeaderIncomplete, 1000)},
                                           DamageCase{"UnknownVersion",
                                                      [](std::string& b) { PutU32(b, 8, 4); },
                                                      Fault(FileErrorKind::UnknownVersion, 4)},
                                           DamageCase{
                                               "HeaderSizeOfAnEarlierVersion",
                                               [](std::string& b) { PutU32(b, 12, 4096); },
                                               Fault(FileErrorKind::ImpossibleHeaderSize, 4096)},
                                           DamageCase{"EvaluatedWithoutItsNul",
                                                      [](std::string& b) {
                                                          std::fill_n(&b[2232], 400, 'a');
                                                      },
                                                      Fault(FileErrorKind::MetadataTooLong, 0,
                                                            100)},
                                           DamageCase{
                                               "HeaderSize",
                                               [](std::string& b) { PutU32(b, 12, 100); },
                                               Fault(FileErrorKind::ImpossibleHeaderSize, 100)},
                                           DamageCase{
                                               "RecordSize",
                                               [](std::string& b) { PutU32(b, 16, 8); },
                                               Fault(FileErrorKind::ImpossibleRecordShape, 8, 4)},
                                           DamageCase{"ZeroFrequency",
                                                      [](std::string& b) { PutU32(b, 32, 0); },
                                                      Fault(FileErrorKind::ImpossibleFrequency, 0)},
                                           DamageCase{
                                               "FifthPlate",
                                               [](std::string& b) { PutU32(b, 36, 0x1F); },
                                               Fault(FileErrorKind::ImpossibleActivePlates, 31)},
                                           DamageCase{
                                               "NegativeTestNumber",
                                               [](std::string& b) { PutU64(b, 40, -5ULL); },
                                               Fault(FileErrorKind::ImpossibleTestNumber, -5ULL)},
                                           DamageCase{
                                               "UnknownState",
                                               [](std::string& b) { PutU32(b, 48, 7); },
                                               Fault(FileErrorKind::ImpossibleClosedMark, 7)},
                                           DamageCase{"ZeroIndexOfAnActivePlate",
                                                      [](std::string& b) { PutU64(b, 64 + 8, 0); },
                                                      Fault(FileErrorKind::ImpossibleCalibration, 0,
                                                            0, 1)},
                                           DamageCase{"NaNTareOfAnActivePlate",
                                                      [](std::string& b) {
                                                          PutU64(b, 64 + 24 + 16,
                                                                 std::bit_cast<std::uint64_t>(
                                                                     std::numeric_limits<
                                                                         double>::quiet_NaN()));
                                                      },
                                                      Fault(FileErrorKind::ImpossibleCalibration, 0,
                                                            0, 2)},
                                           DamageCase{
                                               "UnendedPort",
                                               [](std::string& b) {
                                                   std::fill_n(&b[160 + 256], 256, 'p');
                                               },
                                               Fault(FileErrorKind::UnterminatedPort, 0, 0, 2)},
                                           DamageCase{"ClosedButShort",
                                                      [](std::string&
                                                             b) { b.resize(b.size() - 16); },
                                                      Fault(
                                                          FileErrorKind::ClosedCountMismatch,
                                                          10, 9)},
                                           // A crash while a record was being written: that record
                                           // is dropped, the rest read.
                                           DamageCase{"OpenWithATornLastRecord",
                                                      [](std::string& b) {
                                                          PutU32(b, 48, 0);
                                                          PutU64(b, 56, 0);
                                                          b.append(7, '\x01');
                                                      },
                                                      std::nullopt, 10},
                                           // An idle plate's calibration is never used: it is no
                                           // damage.
                                           DamageCase{
                                               "ZeroIndexOfAnIdlePlate",
                                               [](std::string& b) { PutU64(b, 64 + 72 + 8, 0); },
                                               std::nullopt, 10},
                                           // Crafted values pass the checks a start-up applies,
                                           // before anything is read whole.
                                           DamageCase{
                                               "FrequencyNotOneOfTheRates",
                                               [](std::string& b) { PutU32(b, 32, 2147483647); },
                                               Fault(FileErrorKind::ImpossibleFrequency,
                                                     2147483647)},
                                           DamageCase{"IndexBelowWhatFourDecimalsHold",
                                                      [](std::string& b) {
                                                          PutU64(
                                                              b, 64 + 8,
                                                              std::bit_cast<std::uint64_t>(1e-310));
                                                      },
                                                      Fault(FileErrorKind::ImpossibleCalibration, 0,
                                                            0, 1)},
                                           // Open (state and count zero) with 200000 records.
                                           DamageCase{"MoreRecordsThanARunHolds",
                                                      [](std::string& b) {
                                                          b.replace(48, 16, 16, '\0')
                                                              .resize(16384 + 200000 * 16);
                                                      },
                                                      Fault(FileErrorKind::TooManyRecords, 200000)},
                                           DamageCase{"ClosedWithATornRecord",
                                                      [](std::string& b) { b.append(7, '\x01'); },
                                                      Fault(FileErrorKind::TornAfterClose, 10, 7)}),
                         [](const auto& param) { return std::string(param.param.name); });

struct RetentionCase {
    const char* name;
    std::vector<std::size_t> records;  // per journal, oldest first
    JournalLimits limits;
    int inUse;              // the journal whose writer is still open; -1: none
    std::vector<int> kept;  // newest first
    std::size_t ahead = 0;  // the first journals, made while the clock was five years ahead
};

class JournalRetention : public ::testing::TestWithParam<RetentionCase> {};

TEST_P(JournalRetention, RemovesTheOldestFirstButNeverOneInUse) {
    const RetentionCase& c = GetParam();
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    std::vector<std::unique_ptr<JournalWriter>> writers;
    for (std::size_t j = 0; j < c.records.size(); ++j) {
        writers.push_back(std::make_unique<JournalWriter>());
        // Every journal of one minute: the names differ, the ages are known.
        JournalDescription d =
            Describe(0b0001, kStart + kFiveYears * (j < c.ahead) + std::chrono::minutes(j));
        ASSERT_TRUE(writers.back()->Open(folder, d));
        std::vector<RawRecord> records(c.records[j]);
        writers.back()->Append(records);
        if (static_cast<int>(j) != c.inUse) {
            ASSERT_TRUE(writers.back()->Close(static_cast<std::int64_t>(j) + 1));
        }
        if (j < c.ahead) {
            DateIn2028(writers.back()->Path(), static_cast<int>(j));
        }
    }
    PruneJournals(folder, c.limits);
    std::vector<int> kept;
    for (const JournalSummary& s : ListJournals(folder)) {
        kept.push_back(static_cast<int>(s.description.sequence) - 1);  // the order made in
        EXPECT_EQ(s.sampleCount, c.records[static_cast<std::size_t>(kept.back())]);
        EXPECT_EQ(s.inUse, kept.back() == c.inUse);
    }
    EXPECT_EQ(kept, c.kept);
}

constexpr std::uint64_t kEmptyJournal = 16384;

INSTANTIATE_TEST_SUITE_P(
    Table, JournalRetention,
    ::testing::Values(
        RetentionCase{"ByCount", {0, 0, 0, 0, 0, 0}, {4, 1U << 30}, -1, {5, 4, 3, 2}},
        RetentionCase{"BySize", {0, 0, 0, 0, 0}, {50, 3 * kEmptyJournal + 100}, -1, {4, 3, 2}},
        // One large new run pushes out several small old ones.
        RetentionCase{
            "ByTheNewestSize", {0, 0, 0, 0, 1000}, {50, 3 * kEmptyJournal + 16000}, -1, {4, 3, 2}},
        RetentionCase{"WithinBothLimits", {5, 5, 5}, {3, 3 * (kEmptyJournal + 80)}, -1, {2, 1, 0}},
        RetentionCase{"OldestStillBeingWritten", {0, 0, 0, 0}, {2, 1U << 30}, 0, {3, 0}},
        // Journals 2 and 3 were made since the station started (sequence 3 on).
        RetentionCase{"RunsSinceTheStationStarted", {0, 0, 0, 0}, {1, 1U << 30, 3}, -1, {3, 2}},
        // Journals 0 to 2 from a clock five years ahead, named and dated 2028, then two of today's.
        RetentionCase{
            "RunsFromAClockAheadNeverPushOutTodaysRuns", {0, 0, 0, 0, 0}, {3}, -1, {4, 3, 2}, 3}),
    [](const auto& param) { return std::string(param.param.name); });

// Beside runs dated 2028 (closed, damaged, of a newer version, crashed), today's runs killed
// mid-way and at "Deseja salvar o teste?": every run a dead station left is offered, newest first.
TEST(JournalRecoveryLookup, OffersEveryRunADeadStationLeftWhateverLiesBeside) {
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    for (int n = 0; n < 4; ++n) {
        const std::string other = WriteRun(folder, SystemClock::now() + kFiveYears, 10,
                                           n == 3 ? Ending::Crashed : Ending::Closed);
        std::string bytes = ReadFileBytes(other);
        PutU32(bytes, 8, n == 2 ? 4 : 3);
        WriteFileBytes(other, n == 1 ? "KELVJRNL" : bytes);
        DateIn2028(other, n);
    }
    const std::string killed = WriteRun(folder, SystemClock::now(), 600, Ending::Crashed);
    const std::string atQuestion =
        WriteRun(folder, SystemClock::now(), 600, Ending::AtSaveQuestion);
    const auto found = FindUnclosedJournals(folder);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0].path, atQuestion);
    EXPECT_EQ(found[1].path, killed);
    EXPECT_EQ(found[1].sampleCount, 600U);
}

// What the version-1 writer left (tests/journal/data: a run saved and a crashed one, read in
// tests/review) is recovered and listed below any version-2 run whatever its start.
TEST(JournalVersion1, IsRecoveredAndListedBelowEveryLaterFormat) {
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    const std::string later = WriteRun(folder, kStart - kFiveYears, 0, Ending::Closed);
    for (const std::string name : {"/version1-closed.kjr", "/version1-crashed.kjr"}) {
        std::filesystem::copy_file(KELVARO_JOURNAL_DATA + name, folder + name);
    }
    const auto list = ListJournals(folder);
    ASSERT_EQ(list.size(), 3U);
    EXPECT_EQ(list[0].path, later);
    EXPECT_EQ(list[1].path, folder + "/version1-crashed.kjr");  // started five minutes later
    EXPECT_EQ(list[2].sampleCount, 300U);
    const auto found = FindUnclosedJournals(folder);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].path, list[1].path);
    EXPECT_EQ(found[0].sampleCount, 200U);
    ASSERT_TRUE(CloseJournal(found[0].path));
    EXPECT_TRUE(FindUnclosedJournals(folder).empty());
}

// What the version-2 writer left (tests/journal/data: a run on plates 1 and 2 saved as test 7)
// reads with no id and no texts, and has no room for texts edited later.
TEST(JournalVersion2, ReadsWithANullIdAndNoTexts) {
    TempDir dir;
    const std::string path = dir.File("version2-closed.kjr");
    std::filesystem::copy_file(KELVARO_JOURNAL_DATA "/version2-closed.kjr", path);
    JournalContents back;
    ASSERT_TRUE(ReadJournal(path, back));
    EXPECT_EQ(back.description.version, 2U);
    EXPECT_EQ(back.description.testNumber, 7);
    EXPECT_TRUE(IsNullRunId(back.description.runId));
    EXPECT_EQ(back.description.metadata, RunMetadata{});
    ASSERT_EQ(back.records.size(), 250U);
    EXPECT_EQ(back.records[249], (RawRecord{249, 249, 0, 0}));
    EXPECT_EQ(
        SetJournalMetadata(path, {"Ana", "", ""}).error,
        Told(Fault(FileErrorKind::NoRoomForMetadata, 2), FileOperation::JournalSetMetadata, path));
}

// Opening a journal never waits: a FIFO where a journal is looked for is refused at once as no
// regular file. Should an open wait for a writer, the alarm ends the test as a failure.
TEST(JournalNotAFile, AFifoIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.File("run.kjr");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    alarm(60);
    JournalContents back;
    EXPECT_FALSE(StartsAsJournal(path));
    EXPECT_EQ(CloseJournal(path).error,
              SystemFileError(FileOperation::JournalCloseLeftOpen, kNotARegularFile, path));
    EXPECT_EQ(SetJournalTestNumber(path, 3).error,
              SystemFileError(FileOperation::JournalSetTestNumber, kNotARegularFile, path));
    EXPECT_EQ(ReadJournal(path, back).error,
              SystemFileError(FileOperation::JournalRead, kNotARegularFile, path));
    alarm(0);
}

// A journal folder others may write in, then one another user owns: a journal planted there is
// neither offered nor listed, and no journal is made there.
TEST(JournalFolderTrust, NothingIsReadOrWrittenInAFolderOthersControl) {
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    WriteRun(folder, SystemClock::now(), 600, Ending::Crashed);
    for (const bool writableByAll : {true, false}) {
        ASSERT_EQ(chmod(folder.c_str(), writableByAll ? 0777 : 0700), 0);
        if (!writableByAll && (geteuid() != 0 || chown(folder.c_str(), 4242, 4242) != 0)) {
            GTEST_SKIP() << "giving a folder to another user needs root";
        }
        EXPECT_TRUE(ListJournals(folder).empty() && FindUnclosedJournals(folder).empty());
        const auto refusal = JournalFolderRefusal(folder);
        EXPECT_EQ(refusal,
                  Told(Fault(FileErrorKind::FolderNotPrivate), FileOperation::None, folder));
        JournalWriter writer;
        EXPECT_FALSE(writer.Open(folder, Describe(0b0001)));
        EXPECT_EQ(writer.TakeError(), Told(Fault(FileErrorKind::FolderNotPrivate),
                                           FileOperation::JournalCreate, folder));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }
}

// Files may grow only to one second of records and half a record in the child, so the journal's
// write fails with EFBIG as on a full disk.
TEST(JournalFullDisk, StopsWithOneErrorAndAppendStaysCheap) {
    TempDir dir;
    const std::string folder = dir.File("kelvaro");
    int results[2];
    ASSERT_EQ(pipe(results), 0);
    const pid_t pid = Spawn([&] {
        close(results[0]);
        signal(SIGXFSZ, SIG_IGN);
        JournalWriter writer;
        if (!writer.Open(folder, Describe(0b1111))) {
            return 2;
        }
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 16384 + 600 * 16 + 8;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 5;
        }
        for (std::uint64_t k = 0; k < 1200; ++k) {
            const RawRecord r = Counter(k);
            writer.Append({&r, 1});
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!writer.Failed() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // A second of passes once the journal has stopped.
        std::vector<std::int64_t> costs;
        for (std::uint64_t k = 1200; k < 1800; ++k) {
            const RawRecord r = Counter(k);
            const auto before = std::chrono::steady_clock::now();
            writer.Append({&r, 1});
            costs.push_back((std::chrono::steady_clock::now() - before).count());
        }
        std::sort(costs.begin(), costs.end());
        std::ostringstream out;
        out << "failed=" << writer.Failed() << "\nclosed=" << writer.Close(0)
            << "\nmedianNs=" << costs[costs.size() / 2] << "\nerror=" << Summary(writer.TakeError())
            << "\nagain=" << Summary(writer.TakeError()) << "\npath=" << writer.Path() << "\n";
        const std::string text = out.str();
        return write(results[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                                : 4;
    });
    ASSERT_GT(pid, 0);
    close(results[1]);
    std::string text;
    char buffer[1024];
    for (ssize_t n; (n = read(results[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(results[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    std::map<std::string, std::string> field;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        field[line.substr(0, equals)] = line.substr(equals + 1);
    }

    EXPECT_EQ(field["failed"], "1");
    EXPECT_EQ(field["closed"], "0");  // the journal does not hold the whole run
    EXPECT_EQ(field["error"],
              Summary(SystemFileError(FileOperation::JournalWrite, EFBIG, field["path"])));
    EXPECT_EQ(field["again"], "");  // told once
    EXPECT_LT(std::stoll(field["medianNs"]), 50000) << "a pass after the stop costs too much";

    JournalContents back;
    ASSERT_TRUE(ReadJournal(field["path"], back));
    EXPECT_EQ(back.description.state, JournalState::Stopped);
    EXPECT_EQ(back.records.size(), 600U);
    EXPECT_EQ(CounterMismatches(back.records), 0U);
}

struct FolderCase {
    const char* name;
    const char* xdgStateHome;  // nullptr: unset
    const char* expected;      // after $HOME
};

class JournalFolderPlace : public ::testing::TestWithParam<FolderCase> {};

TEST_P(JournalFolderPlace, FollowsTheXdgRules) {
    const std::string savedXdg = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
    const bool hadXdg = std::getenv("XDG_STATE_HOME") != nullptr;
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/operador", 1);
    if (GetParam().xdgStateHome != nullptr) {
        setenv("XDG_STATE_HOME", GetParam().xdgStateHome, 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
    const std::string folder = DefaultJournalFolder();
    setenv("HOME", savedHome.c_str(), 1);
    if (hadXdg) {
        setenv("XDG_STATE_HOME", savedXdg.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
    EXPECT_EQ(folder, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JournalFolderPlace,
    ::testing::Values(FolderCase{"Set", "/var/estado", "/var/estado/kelvaro"},
                      FolderCase{"Unset", nullptr, "/home/operador/.local/state/kelvaro"},
                      // The XDG rules ignore a relative path.
                      FolderCase{"Relative", "estado", "/home/operador/.local/state/kelvaro"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
