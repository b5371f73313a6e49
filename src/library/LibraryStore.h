// The station's library of tests: every run it ends, what it was about and its whole-run
// figures, and the readings of every saved test, in one SQLite file, to be searched, opened,
// imported into and copied. No widgets. One object is one connection, used on the thread that
// opened it (LibraryWorker keeps one on a thread of its own).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/TestFileWriter.h"
#include "journal/RunMetadata.h"
#include "plate/Plate.h"
#include "settings/FileError.h"

namespace kelvaro {

// The schema this build writes; a file of a later one is only read.
inline constexpr int kLibrarySchemaVersion = 2;
// How long a write waits for another process holding the library.
inline constexpr int kLibraryBusyMilliseconds = 5000;

enum class LibraryError { None, Damaged, NewerSchema, ReadOnly, DiskFull, Busy, Other };

struct LibraryStatus {
    LibraryError error = LibraryError::None;
    int systemError = 0;     // errno when a system call failed (EEXIST: a backup's destination)
    std::string nativeText;  // SQLite's or Qt's own words, for the log

    bool Ok() const { return error == LibraryError::None; }
    explicit operator bool() const { return Ok(); }
};

// What is recorded of a run that ended.
struct LibraryRun {
    RunId runId{};
    std::chrono::system_clock::time_point start;
    std::int32_t frequency = 0;
    ActivePlates active{};
    std::array<std::string, kPlateCount> units, ports;
    PlateCalibrations calibration{};
    std::int64_t testNumber = 0;  // 0: not saved
    std::string filePath;
    std::string fileSha256;  // hex; empty when not saved
    RunMetadata metadata;
    std::vector<RawRecord> raw;     // empty for an imported test
    std::vector<LoadRecord> loads;  // an imported test's only: it has no raw readings
    bool imported = false;
    std::optional<char> decimalSeparator;  // an imported file's; none for the station's own
};

struct PlateFigures {
    std::optional<double> peak;
    std::optional<double> mean;
};

// One row of a list of tests.
struct LibraryEntry {
    RunId runId{};
    std::chrono::system_clock::time_point start;
    std::int64_t testNumber = 0;
    std::string evaluated, protocol, notesFirstLine;
    std::int32_t frequency = 0;
    ActivePlates active{};
    int samples = 0;
    std::optional<double> totalPeak, totalMean;
    std::array<PlateFigures, kPlateCount> plates;
    std::array<std::string, kPlateCount> units;
    bool imported = false;
    std::string filePath;
};

enum class LibrarySortColumn {
    Start,
    TestNumber,
    Evaluated,
    Protocol,
    Frequency,
    Samples,
    TotalPeak,
    TotalMean,
    Plate1Peak,
    Plate2Peak,
    Plate3Peak,
    Plate4Peak,
    Imported,
};

// Texts match whatever their case and accents; an empty text or an absent bound matches all.
struct LibraryQuery {
    std::string evaluated{};  // within "Avaliado"
    std::string protocol{};
    bool protocolExact = false;                                         // else within "Protocolo"
    std::string notes{};                                                // within the notes
    std::optional<std::chrono::system_clock::time_point> from{}, to{};  // the start, both included
    std::optional<std::int64_t> testNumber{};
    LibrarySortColumn sortBy = LibrarySortColumn::Start;
    bool descending = true;
    int limit = 0;  // 0: every match
    int offset = 0;
};

// A test read back, enough to draw it as after a stop and save it again as a reopened run.
struct StoredRunData {
    RunId runId{};
    std::chrono::system_clock::time_point start;
    TestFileHeading heading;
    ActivePlates active{};
    PlateCalibrations calibration{};
    // Raw readings converted with the calibration the run had, or an imported test's loads;
    // empty when the library keeps none (a run never saved: its journal has them).
    std::vector<LoadRecord> loads;
    bool hasReadings = false;
    RunMetadata metadata;
    std::string filePath;
    std::string fileSha256;
    bool imported = false;
    std::optional<char> decimalSeparator;
};

enum class ImportResult {
    Imported,
    AlreadyThere,  // its bytes are in the library already: imported or saved before
    Refused,       // not a test file the station reads: fileError says why
    NotRecorded,   // the library could not take it: status says why
};

struct ImportOutcome {
    ImportResult result = ImportResult::NotRecorded;
    RunId runId{};  // the new test's, or the one already there
    std::optional<FileError> fileError;
    LibraryStatus status;
};

class LibraryStore {
  public:
    LibraryStore();
    ~LibraryStore();  // closes the connection
    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    // Opens the library at `path`, making the file, its folder and its schema when missing. A
    // damaged file is left as it is and not opened; a file of a newer schema, or one that cannot
    // be written, is opened for reading only and said so (NewerSchema, ReadOnly).
    LibraryStatus Open(const std::string& path);
    // Lets go of the file, so that it may be moved; Open again to use the store.
    void Close();
    bool IsOpen() const { return open_; }
    bool Writable() const { return open_ && writable_; }
    // "wal", or "delete" on a network file system where WAL's shared memory cannot be trusted.
    const std::string& JournalMode() const { return journalMode_; }

    // The station's id, made on first use and kept in the library; empty when it cannot be had.
    std::string StationId();
    // The host the station's id was made on.
    std::string StationHost();
    // Takes on the id (and host) of the station a library made before belonged to, so that a
    // library made again still names its station as the old one did.
    LibraryStatus SetStation(const std::string& id, const std::string& host);

    // Records a run that ended, in one transaction; the same run id again replaces it.
    LibraryStatus RecordRun(const LibraryRun& run);
    LibraryStatus SetMetadata(const RunId& id, const RunMetadata& metadata);
    // The test number, file and SHA-256 of a run saved after it was recorded. Its raw readings
    // come only with RecordRun: record the run again to keep them.
    LibraryStatus SetSaved(const RunId& id, std::int64_t testNumber, const std::string& path,
                           const std::string& sha256);
    // From the library only; a saved file is never touched.
    LibraryStatus Remove(const RunId& id);

    // The tests that match, sorted, the page the query asks for.
    std::vector<LibraryEntry> Search(const LibraryQuery& query, LibraryStatus* status = nullptr);
    // How many tests match, whatever the page.
    int Count(const LibraryQuery& query, LibraryStatus* status = nullptr);
    // None when the run is not there or cannot be read (`status` says which).
    std::optional<StoredRunData> LoadRun(const RunId& id, LibraryStatus* status = nullptr);

    // A test file the station wrote, known by the SHA-256 of its bytes.
    ImportOutcome ImportTestFile(const std::string& path);
    // A consistent copy of the library at `destination`, which must not exist yet.
    LibraryStatus Backup(const std::string& destination);

    // The last `n` different "Avaliado" texts, most recent first.
    std::vector<std::string> RecentEvaluated(int n);
    // Every "Protocolo" used, most recent first.
    std::vector<std::string> Protocols();

    // The name of this store's Qt SQL connection, for the features that keep tables of their own
    // in the library's file (the lab's outbox); used on this store's thread only.
    const std::string& ConnectionName() const { return connection_; }

    // Called inside each write transaction after its rows are written, before the commit: where
    // the fault tests stop a process.
    std::function<void()> beforeCommit;

  private:
    LibraryStatus Finish(LibraryStatus status);
    LibraryStatus Refusal() const;
    LibraryStatus OpenOnce(const std::string& path);
    LibraryStatus Migrate();
    LibraryStatus WriteRun(const LibraryRun& run, bool newBytesOnly, RunId* already);

    std::string connection_;
    bool open_ = false;
    bool writable_ = false;
    LibraryStatus refusal_;  // why writes are refused when not writable
    std::string journalMode_;
    std::string stationId_;  // read once
};

// The SHA-256 of `bytes` in lower-case hex.
std::string Sha256Hex(const std::string& bytes);

}  // namespace kelvaro
