// The run journal: a run's raw readings appended from the first sample to a file in the user's
// state folder, with what is needed to draw and export the run again, so that a crash, a kill
// or a power cut costs at most about one second of it and any recent run can be reopened.
//
// File format, version 3 (integers little-endian, doubles IEEE 754 binary64 little-endian):
//   a 16384-byte header, then one 16-byte record per sample.
//   offset  bytes  header field
//        0      8  magic "KELVJRNL"
//        8      4  format version (3; 1 and 2 are still read)
//       12      4  header size: the records start here (16384)
//       16      4  record size (16)
//       20      4  plates per record (4)
//       24      8  start of the run, milliseconds since 1970-01-01 00:00 UTC (only shown)
//       32      4  test frequency, samples per second: one of the seven rates
//       36      4  active plates: bit 0 is plate 1 ... bit 3 is plate 4
//       40      8  test number given when the run was saved, 0 until then  (rewritten)
//       48      4  state: 0 open, 1 closed, 2 closed short of the run's end,
//                  3 stopped with the save question not answered yet  (rewritten)
//       52      4  zero
//       56      8  records in the file when it was stopped or closed, 0 while open  (rewritten)
//       64     96  plates 1..4: zero offset, index, tare in force (three doubles each)
//      160   1024  plates 1..4: port, 256 bytes each, UTF-8 padded with NUL bytes
//     1184   1024  plates 1..4: unit, likewise
//     2208      8  sequence: the folder's highest when the journal was made, plus one
//     2216     16  the run's id (RunId), made at its start
//     2232    400  "Avaliado", UTF-8 padded with NUL bytes (no NUL at its limit)  (rewritten)
//     2632    240  "Protocolo", likewise  (rewritten)
//     2872   8000  "Observações", likewise  (rewritten)
//    10872   5512  zero
//   A record holds plates 1..4's raw readings, unsigned 32-bit each: the 24-bit counts as the
//   plates sent them, kMissingReading for a reading a plate did not deliver, and for an idle
//   plate what the run stored for it.
// Version 2 is the same up to the sequence, with a 4096-byte header: no id (read as the null
// one) and no texts (read as empty).
// Version 1 is version 2 without the sequence (zero bytes) and state 3; its records never hold
// kMissingReading, and a raw 0 there is a reading like any other.
// Why this shape: with fixed-size records the sample count is the record bytes divided by 16, a
// record torn by a crash is the remainder (dropped on reading), and sample n is one seek away;
// a 144000-sample run takes 2.3 MB. The fields the run itself changes after its start lie in
// the first 512-byte sector, so their rewrite is one small write a disk makes whole or not at all;
// the header, a whole number of pages, keeps the records page-aligned and leaves room for 255-byte
// port and unit texts, and such a text that does not fit is refused at the start rather than
// kept cut. The run's texts are the operator's, edited after the run as well: their fields hold
// each limit at four bytes a code point, a longer text is cut at a code point rather than
// refused, and a rewrite torn by a power cut leaves texts mixed from before and after, never a
// journal that cannot be read. Runs are ordered by
// their sequence, which a clock set back cannot reverse; the start is only shown.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "journal/RunMetadata.h"
#include "plate/Plate.h"
#include "settings/FileError.h"

namespace kelvaro {

enum class JournalState : std::uint32_t {
    Open = 0,          // being written, or its writer died (crash, kill, power cut)
    Closed = 1,        // every record of the run is in the file
    Stopped = 2,       // closed short of the run's end (a failed write, or a crashed run closed
                       // later by CloseJournal): the file holds the run's first records only
    AwaitingSave = 3,  // every record is in the file, but the save question was not answered:
                       // a writer gone in this state died at the question (version 2)
};

struct JournalPlate {
    bool active = false;
    std::string port;
    PlateCalibration calibration;  // what the run converts the plate's readings with
    std::string unit;
};

struct JournalDescription {
    std::chrono::system_clock::time_point start;  // kept to the millisecond
    std::int32_t frequency = 0;
    std::array<JournalPlate, kPlateCount> plates;
    std::int64_t testNumber = 0;              // set by Close or SetJournalTestNumber
    JournalState state = JournalState::Open;  // set by Close
    std::uint64_t closedCount = 0;            // set by Close
    std::uint32_t version = 0;                // as read back; the writer writes the newest
    std::uint64_t sequence = 0;               // as read back (0 in version 1); set by Open
    RunId runId{};                            // null before version 3
    RunMetadata metadata;                     // cut to the limits; empty before version 3
};

// Retention: how many runs and bytes the folder keeps, and the sequence from which journals are
// kept whatever the limits (the runs made since the station started).
struct JournalLimits {
    std::size_t runs = 50;
    std::uint64_t bytes = 500ULL * 1024 * 1024;
    std::uint64_t keepFrom = UINT64_MAX;
};

// Writes one run's journal. Append never waits for the disk: it copies the records into memory
// and a background thread writes them about four times a second and syncs them (fdatasync)
// about once a second. A failure never throws and never slows Append: journaling stops, the
// first failure is kept and TakeError hands it over once. The descriptor and the thread
// live as long as the object; destroying it without Close writes and syncs what was appended
// and leaves the journal open, as a crash would.
class JournalWriter {
  public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Creates the journal in `folder` (made, mode 0700, when missing; refused when it is not
    // private, JournalFolderRefusal), named after the start in local time, e.g.
    // run-2026-12-08T05-40-12.kjr (-2, -3, ... when the name is taken), with the folder's next
    // sequence taken under a lock on the folder, then prunes the folder's older journals
    // (PruneJournals with `limits`). Returns false when the journal could not be made
    // (TakeError tells why); no file is left then. One Open per object.
    bool Open(const std::string& folder, const JournalDescription& description,
              const JournalLimits& limits = {});
    // Takes the next records of the run; cheap enough for every acquisition pass.
    void Append(std::span<const RawRecord> records);
    // Writes and syncs what is left, then marks the run stopped with its record count and its
    // save question not answered (after a failure, stopped early): a station that dies at the
    // question leaves the run to be offered at the next start. The journal stays held until
    // Close. Waits for the disk. Returns true only when the journal holds the whole run.
    bool AwaitAnswer();
    // Writes and syncs what is left, then marks the journal closed with its record count and
    // `testNumber` (0: not saved); after a failure, as stopped early with the records it kept.
    // Waits for the disk. Returns true only when the journal holds the whole run.
    bool Close(std::int64_t testNumber = 0);

    // The first failure, the first time it is asked for; then nothing.
    std::optional<FileError> TakeError();
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }
    // The records a power cut would leave: those the last sync made durable.
    std::uint64_t DurableRecords() const { return durable_.load(std::memory_order_relaxed); }
    const std::string& Path() const { return path_; }

  private:
    void Run();
    void Sync();
    // Ends the background thread, once, and counts the records the file holds.
    void StopWriting();
    // Rewrites the state, test number and count, and syncs them.
    void Mark(JournalState state, std::int64_t testNumber);
    // Keeps the first failure and stops journaling.
    void Fail(FileError error);

    std::string path_;
    std::string folder_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> durable_{0};

    std::mutex mutex_;  // guards the members below; never held across a system call
    std::condition_variable wake_;
    std::vector<RawRecord> pending_;
    bool stop_ = false;
    std::optional<FileError> error_;
    bool errorTaken_ = false;

    // The background thread's own (Close reads them after joining it).
    std::uint64_t written_ = 0;
    bool folderSynced_ = false;
    std::uint64_t count_ = 0;  // the whole records, once StopWriting has run
};

// Sets the test number of a journal already closed (a run saved from the recent list). Gives the
// error when the file cannot be updated.
FileStatus SetJournalTestNumber(const std::string& path, std::int64_t testNumber);

// Rewrites the run's texts of a journal, open or closed (edited after the run), each cut to its
// limit. A journal of an earlier version has no room for them (NoRoomForMetadata). Gives the
// error when the file cannot be updated.
FileStatus SetJournalMetadata(const std::string& path, const RunMetadata& metadata);

// Closes a journal its writer left open (a crashed run, recovered or declined at the start):
// it is marked stopped early with its whole records (a torn last one stays ignored); one left
// at the save question is marked closed. A journal already closed is left as it is. Refused while a
// writer holds it. Gives the error when it cannot be done.
FileStatus CloseJournal(const std::string& path);

struct JournalContents {
    JournalDescription description;
    std::vector<RawRecord> records;  // a torn last record is left out
};

// Reads a journal back. A file that is not a regular file (never waited on), not a whole journal
// header, whose header holds values a start-up would refuse, or whose size does not match its
// record count, gives the error naming the file and what is wrong; nothing is read whole before
// those checks, and `contents` is then unchanged.
FileStatus ReadJournal(const std::string& path, JournalContents& contents);

// Whether the file at `path` is a regular file that begins with a journal's magic, damaged or
// not: what tells a journal from another file the operator picks. Never waits on a FIFO.
bool StartsAsJournal(const std::string& path);

// ${XDG_STATE_HOME:-~/.local/state}/kelvaro
std::string DefaultJournalFolder();

// FolderNotPrivate when `folder` exists but is not the user's own or others may write in it
// (or it is a link): no journal is then read or written there. None when it is private or
// does not exist yet (the writer makes it private).
std::optional<FileError> JournalFolderRefusal(const std::string& folder);

struct JournalSummary {
    std::string path;
    JournalDescription description;  // only the header; empty when damaged
    std::uint64_t sampleCount = 0;   // whole records in the file
    std::uint64_t fileBytes = 0;
    bool inUse = false;               // a writer (of any process) holds it
    std::optional<FileError> damage;  // why it cannot be read; none when it can
};

// The folder's journals (*.kjr), newest first: version 2 and later by sequence, then version 1
// by start, then those that cannot be read, by name. Nothing from a folder that is not private.
std::vector<JournalSummary> ListJournals(const std::string& folder);

// The sequence the folder's next journal takes: its highest plus one.
std::uint64_t NextJournalSequence(const std::string& folder);

// Removes journals, oldest first, until at most `limits.runs` remain holding at most
// `limits.bytes`; a journal in use, or of sequence `limits.keepFrom` or above, is never removed
// (it still counts).
void PruneJournals(const std::string& folder, const JournalLimits& limits = {});

// For recovery at start: every readable journal whose writer is gone while the run was going
// on or while its save question showed, newest first.
std::vector<JournalSummary> FindUnclosedJournals(const std::string& folder);

}  // namespace kelvaro
