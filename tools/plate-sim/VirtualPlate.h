// Virtual measuring plates on pseudo-terminals, for tests and demos. Each plate answers the
// plate protocol from its own byte handling (independent of the station's link code), streams
// reports at its configured frequency, and injects faults on command.
//
// Protocol as the plate speaks it:
//   request  0A C0 D0 fn N data[N] ck 0F   (ck = two's complement of bytes 1..4+N)
//   Identify    (1)  -> 0A C0 D0 01 01 <model> ck 0F            (8 bytes)
//   Configure   (2)  -> 0A C0 D0 02 00 6E 0F                    (7 bytes; data 01 00 00 fH fL mode)
//   StartStream (3)  -> 0A C0 D0 03 00 6D 0F, then SampleReports 0A C0 D0 04 03 r2 r1 r0 ck 0F
//                       at the configured frequency (50 Hz if never configured) until Stop
//   ReadSample  (4)  -> 0A C0 D0 04 03 r2 r1 r0 ck 0F           (10 bytes)
//   Stop        (6)  -> no reply; streaming stops
//   other fn         -> device error 0A C0 D0 <0xF0|fn, at least 0xF1> 01 07 ck 0F
// Bytes that do not begin a valid request addressed C0 D0 are skipped one at a time.
//
// Readings: every reading the plate produces (a streamed report or a ReadSample reply) takes
// the next number of ONE shared sample index, which starts at 0 and restarts at SetShape.
//   Fixed    raw = zeroCounts + load * countsPerUnit + noise
//   Step     load is 0 before sample `stepAtSample`, then `load`
//   Jump     a repeated jump (stand, dip, push-off, flight, landing, settle) over
//            `jumpPeriodSamples` samples, peak 3 x load
//   Counter  raw = sample index mod 2^24 (no noise): report k carries k, so a consumer can
//            prove that no frame was lost or repeated (a ReadSample in between takes a number)
//   Script   the readings of SetReadings in order, the last one repeating (zeroCounts if empty)
// Every raw value is rounded and clamped to 0..16777215. Noise is uniform in
// [-noiseCounts, +noiseCounts] from a seeded PRNG, so runs repeat exactly.
//
// Thread safety: every public member may be called from any thread while the plate runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvaro::sim {

enum class LoadShape {
    Fixed,    // the load set with SetLoad
    Step,     // 0 until stepAtSample, then the load
    Jump,     // a repeated jump: rises to the load and falls back, like a jump on the plate
    Counter,  // the reading is the number of the report/reply (0, 1, 2, ...) modulo 2^24
    Script,   // readings taken in order from SetReadings, then the last one repeats
};

struct PlateOptions {
    std::uint8_t modelCode = 101;
    double zeroCounts = 8388608.0;  // raw reading with no load
    double countsPerUnit = 1000.0;  // raw counts per load unit
    double noiseCounts = 0.0;       // peak noise, seeded, deterministic
    std::uint32_t seed = 1;
    LoadShape shape = LoadShape::Fixed;
    double load = 0.0;
    int stepAtSample = 0;
    // Added:
    std::vector<std::uint32_t> readings;  // initial script for LoadShape::Script
    int jumpPeriodSamples = 600;          // length of one jump cycle (LoadShape::Jump)
    std::size_t maxPendingBytes = 65536;  // outgoing bytes kept while the host does not read;
                                          // reports beyond are dropped (Stats().reportsDropped)
};

enum class FaultKind {
    // Request faults: consumed by the next request(s) received.
    Silence,  // ignore the next `count` requests (and send no reports while silenced);
              // count <= 0: silent for ever (a dead plate)
    // Frame faults: applied to the next frame(s) the plate sends, reply or streamed report.
    DropByte,     // drop byte `position` of the next frame sent
    InsertByte,   // insert an extra byte `value` at `position` of the next frame sent
    BadChecksum,  // next frame with a wrong checksum (the right one plus 1)
    BadStart,     // next frame with start byte `value` (0x0B if `value` is 0x0A)
    BadEnd,       // next frame with end byte `value` (0x0E if `value` is 0x0F)
    Garbage,      // next frame sent as as many `value` bytes (0x55 if 0): a babbling plate
    // Reply faults: consumed by the next request(s) that have a reply (every function but
    // Stop; Stop is always carried out silently).
    ErrorReply,     // answer the next request with function 0xF0|fn (>=0xF1) and code `value`;
                    // the request is not carried out. Data length: `length`, or automatic
                    // (3 for ReadSample so the reply fills the host's 10-byte read, else 1)
    WrongFunction,  // answer the next request with function `value` (fn ^ 0x40 when 0);
                    // the request is carried out
    LateReply,      // answer the next request after `delayMs` (later output waits behind it)
    // Immediate.
    Unplug,  // close the pseudo-terminal: the port disappears (after `delayMs` if > 0)
    Flood,   // send `value` bytes (0x55 if 0) without pause at the line's rate (115200 baud,
             // 8N2: 10472 a second) in place of reports; `count` bytes, or until ClearFaults
             // when <= 0
};

struct Fault {
    FaultKind kind;
    int count = 1;  // how many requests/frames it applies to; <= 0: every one from now on
    int position = 0;
    std::uint8_t value = 0;
    int delayMs = 0;
    int length = -1;  // ErrorReply: data length N of the error frame; -1 automatic
};

// Counters a test can check.
struct PlateStats {
    std::uint64_t requests[256] = {};  // valid requests received per function code
                                       // (silenced ones included)
    std::uint64_t reportsSent = 0;     // streamed reports (queued for the host)
    std::uint64_t garbageBytes = 0;    // bytes that did not form a valid request
    std::uint64_t floodBytes = 0;      // bytes sent by Flood
    // Added:
    std::uint64_t reportsDropped = 0;    // reports dropped because the host did not read
    std::uint64_t ignoredRequests = 0;   // requests swallowed by Silence
    std::uint64_t faultsApplied = 0;     // fault applications (per request or frame)
    std::uint64_t readingsProduced = 0;  // sample index: readings made so far
    int configuredFrequency = 0;         // 0 until Configure
    int configuredMode = -1;             // -1 until Configure
    bool streaming = false;
    bool plugged = true;
};

class VirtualPlate {
  public:
    explicit VirtualPlate(PlateOptions options = {});
    ~VirtualPlate();  // stops the plate, removes its published link
    VirtualPlate(const VirtualPlate&) = delete;
    VirtualPlate& operator=(const VirtualPlate&) = delete;

    bool Ok() const;                 // the pseudo-terminal could be created
    std::string DevicePath() const;  // /dev/pts/N, the path a host opens
    // Publishes the plate as a symbolic link `folder`/`name` -> DevicePath(), creating the
    // folder (mode 0700) if needed and replacing an old link of that name; returns the link
    // path, or "" on failure. Links are removed by Unplug and by the destructor.
    std::string Publish(const std::string& folder, const std::string& name);

    void SetLoad(double load);
    void SetShape(LoadShape shape);                         // also restarts the sample index at 0
    void SetReadings(std::vector<std::uint32_t> readings);  // LoadShape::Script, from the first
    void SetModelCode(std::uint8_t code);
    void SetNoise(double noiseCounts);
    void SetCalibration(double zeroCounts, double countsPerUnit);
    void Inject(const Fault& fault);
    void ClearFaults();  // forgets pending faults (a silenced plate speaks again)
    // Closes the master side and the simulator's own slave descriptor: the host's reads fail
    // (EIO / hang-up) and the device node goes away once the host closes it. Returns when done.
    void Unplug();

    // What the host configured (0 until Configure), the mode (-1 until Configure) and
    // whether it streams.
    int ConfiguredFrequency() const;
    int ConfiguredMode() const;
    bool Streaming() const;
    PlateStats Stats() const;
    // The number of reports sent so far.
    std::uint64_t ReportsSent() const;

    // Waiting helpers for tests: true once the condition holds, false after `timeoutMs`.
    bool WaitForRequests(std::uint8_t function, std::uint64_t count, int timeoutMs) const;
    bool WaitForReports(std::uint64_t count, int timeoutMs) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvaro::sim
