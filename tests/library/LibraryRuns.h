// Runs as the station ends them, for the library's tests: four plates of 24-bit counts around
// their zero, a person stepping on and off, and noise in every reading.
#pragma once

#include <cmath>
#include <random>

#include "journal/Journal.h"
#include "library/LibraryStore.h"

namespace kelvaro::testing {

inline LibraryRun NoisyRun(int samples, unsigned seed, std::int64_t testNumber = 0,
                           RunMetadata metadata = {}) {
    LibraryRun run;
    run.runId = NewRunId();
    run.start = std::chrono::system_clock::time_point(std::chrono::hours(490000 + seed));
    run.frequency = 600;
    run.active = {true, true, true, true};
    run.units = {"kgf", "kgf", "kgf", "kgf"};
    run.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    run.testNumber = testNumber;
    run.metadata = std::move(metadata);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 200.0);
    for (int p = 0; p < kPlateCount; ++p) {
        run.calibration[p] = {8'000'000.0 + 1000.0 * p, 2000.0 + 10.0 * p, 0.5};
    }
    run.raw.resize(static_cast<std::size_t>(samples));
    for (int k = 0; k < samples; ++k) {
        const double pulse = std::max(0.0, std::sin(k / 600.0 * 0.7));
        for (int p = 0; p < kPlateCount; ++p) {
            const double counts = run.calibration[p].zeroOffset +
                                  run.calibration[p].index * 200.0 * pulse + noise(random);
            run.raw[k][p] = static_cast<RawReading>(std::lround(counts));
        }
    }
    return run;
}

// Journals `run` in `folder` as the station does, closed with its test number; its path.
inline std::string JournalOf(const LibraryRun& run, const std::string& folder) {
    JournalDescription description;
    description.start = run.start;
    description.frequency = run.frequency;
    description.runId = run.runId;
    description.metadata = run.metadata;
    for (int p = 0; p < kPlateCount; ++p) {
        description.plates[p] = {run.active[p], run.ports[p], run.calibration[p], run.units[p]};
    }
    JournalWriter writer;
    if (!writer.Open(folder, description)) {
        return {};
    }
    writer.Append(run.raw);
    writer.Close(run.testNumber);
    return writer.Path();
}

}  // namespace kelvaro::testing
