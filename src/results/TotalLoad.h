// The platform's total load: the sum of the active plates' loads, sample by sample, missing
// wherever one of them is missing, as the chart draws it and the results figure it.
#pragma once

#include <span>
#include <vector>

#include "plate/Plate.h"

namespace kelvaro {

// Writes the total of each record into `total`, which holds one value per record (so rows added
// to a run while it goes on can be summed on their own). Plate 1 is added first; a single active
// plate's total is its load bit for bit. With no active plate every total is missing.
void SumActiveLoads(std::span<const LoadRecord> loads, const ActivePlates& active,
                    std::span<double> total);

// The total of every record of a run.
std::vector<double> TotalLoads(std::span<const LoadRecord> loads, const ActivePlates& active);

}  // namespace kelvaro
