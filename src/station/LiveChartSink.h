// The chart drawn while a run goes on, as the run drives it. The chart reads the run's loads at
// its own pace (about ten times a second), so the acquisition pass does no drawing work.
#pragma once

#include <functional>
#include <span>

#include "plate/Plate.h"

namespace kelvaro {

// The loads of one sample, plate 1 first: the same row as the run's sample record. The chart
// draws a row's plates as its first series, in order.
using PlateLoads = LoadRecord;

class LiveChartSink {
  public:
    // The loads of every sample acquired so far, sample 1 first. Rows once returned never change
    // and the table only grows, until EndLive.
    using LoadsSoFar = std::function<std::span<const PlateLoads>()>;

    virtual ~LiveChartSink() = default;
    // Starts drawing a run from an empty chart; only the active plates' series are drawn.
    // `loadsSoFar` is called on the caller's thread until EndLive.
    virtual void BeginLive(const ActivePlates& active, LoadsSoFar loadsSoFar) = 0;
    // Draws the rows not read yet and stops reading: the picture is then the one the final
    // chart's calls draw of the same loads.
    virtual void EndLive() = 0;
};

}  // namespace kelvaro
