// Virtual measuring plates on pseudo-terminals, for tests and demos. Each plate answers the
// plate protocol from its own byte handling (independent of the station's link code), streams
// reports at its configured frequency, and injects faults on command.
#pragma once

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
};

enum class FaultKind {
    Silence,        // ignore the next `count` requests (and send no reports while silenced)
    DropByte,       // drop byte `position` of the next frame sent
    InsertByte,     // insert an extra byte `value` at `position` of the next frame sent
    BadChecksum,    // next frame with a wrong checksum
    BadStart,       // next frame with a wrong start byte
    BadEnd,         // next frame with a wrong end byte
    ErrorReply,     // answer the next request with function 0xF0|fn (>=0xF1) and code `value`
    WrongFunction,  // answer the next request with another function code
    LateReply,      // answer the next request after `delayMs`
    Unplug,         // close the pseudo-terminal: the port disappears
};

struct Fault {
    FaultKind kind;
    int count = 1;
    int position = 0;
    std::uint8_t value = 0;
    int delayMs = 0;
};

// Counters a test can check.
struct PlateStats {
    std::uint64_t requests[256] = {};  // requests received per function code
    std::uint64_t reportsSent = 0;     // streamed reports
    std::uint64_t garbageBytes = 0;    // bytes that did not form a valid request
};

class VirtualPlate {
  public:
    explicit VirtualPlate(PlateOptions options = {});
    ~VirtualPlate();  // stops the plate, removes its published link
    VirtualPlate(const VirtualPlate&) = delete;
    VirtualPlate& operator=(const VirtualPlate&) = delete;

    bool Ok() const;                 // the pseudo-terminal could be created
    std::string DevicePath() const;  // /dev/pts/N, the path a host opens
    // Publishes the plate as a symbolic link `folder`/`name` -> DevicePath(); returns the link.
    std::string Publish(const std::string& folder, const std::string& name);

    void SetLoad(double load);
    void SetShape(LoadShape shape);
    void SetReadings(std::vector<std::uint32_t> readings);  // LoadShape::Script
    void SetModelCode(std::uint8_t code);
    void Inject(const Fault& fault);
    void Unplug();

    // What the host configured (0 until Configure), the mode and whether it streams.
    int ConfiguredFrequency() const;
    int ConfiguredMode() const;
    bool Streaming() const;
    PlateStats Stats() const;
    // The readings sent in reports so far, in order (for loss/duplication checks).
    std::uint64_t ReportsSent() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvaro::sim
