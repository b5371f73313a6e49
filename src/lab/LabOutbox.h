// The outbox in the library's file: the saved tests and the texts edited since, waiting for the
// lab's server, each with its tries and last error. Read and written through a LibraryStore's
// own connection, on that store's thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "library/LibraryStore.h"

namespace kelvaro {

enum class OutboxKind { Run, Metadata };

struct OutboxItem {
    RunId runId{};
    OutboxKind kind = OutboxKind::Run;
    std::int64_t editedMs = 0;  // the version this item pushes
    int attempts = 0;
};

// How many tests wait, for the status line.
int WaitingTests(LibraryStore& store, LibraryStatus* status = nullptr);
// The last failure of a test still waiting, empty when none failed.
std::string LastOutboxError(LibraryStore& store);
// The item to push now: due, the oldest first; none when nothing is due.
std::optional<OutboxItem> NextDueItem(LibraryStore& store, std::int64_t nowMs);
// When the next item falls due, none when the outbox is empty.
std::optional<std::int64_t> NextDueTime(LibraryStore& store);
// Gone from the outbox, unless a later version replaced it meanwhile.
LibraryStatus MarkPushed(LibraryStore& store, const OutboxItem& item);
LibraryStatus MarkFailed(LibraryStore& store, const OutboxItem& item, const std::string& error,
                         std::int64_t retryMs);

// A test as the server keeps it, read from the library.
struct OutgoingRun {
    std::string stationId, stationHost;
    std::int64_t startMs = 0;
    int frequency = 0;
    ActivePlates active{};
    std::array<std::string, kPlateCount> units;
    PlateCalibrations calibration{};
    std::int64_t testNumber = 0;
    std::string fileName, fileSha256;
    bool imported = false;
    std::string decimalSeparator;
    int samples = 0;
    std::optional<double> totalPeak, totalMean;
    std::array<std::optional<double>, kPlateCount> platePeak, plateMean;
    RunMetadata metadata;
    std::array<std::string, 3> metadataKeys;  // the search keys of the texts, in their order
    std::string readingsKind;                 // "raw", "loads", or empty
    std::string readings;                     // the library's compressed bytes, as kept
};

// None when the run is gone from the library (removed before it was pushed: `status` is Ok) or
// cannot be read (`status` says why).
std::optional<OutgoingRun> ReadOutgoingRun(LibraryStore& store, const RunId& id,
                                           LibraryStatus* status = nullptr);

}  // namespace kelvaro
