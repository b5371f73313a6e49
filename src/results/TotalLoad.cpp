#include "results/TotalLoad.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace kelvaro {

namespace {

// One loop per number of active plates, so the inner sum has no branch left and a missing
// reading reaches the total through the addition (NaN plus any load is NaN).
template <int Count>
void Sum(std::span<const LoadRecord> loads, const std::array<int, kPlateCount>& plates,
         std::span<double> total) {
    for (std::size_t k = 0; k < loads.size(); ++k) {
        const LoadRecord& record = loads[k];
        double sum = record[plates[0]];
        for (int i = 1; i < Count; ++i) {
            sum += record[plates[i]];
        }
        total[k] = sum;
    }
}

}  // namespace

void SumActiveLoads(std::span<const LoadRecord> loads, const ActivePlates& active,
                    std::span<double> total) {
    assert(total.size() == loads.size());
    std::array<int, kPlateCount> plates{};
    int count = 0;
    for (int plate = 0; plate < kPlateCount; ++plate) {
        if (active[plate]) {
            plates[count++] = plate;
        }
    }
    static_assert(kPlateCount == 4, "one loop per number of active plates");
    switch (count) {
        case 1:
            Sum<1>(loads, plates, total);
            break;
        case 2:
            Sum<2>(loads, plates, total);
            break;
        case 3:
            Sum<3>(loads, plates, total);
            break;
        case 4:
            Sum<4>(loads, plates, total);
            break;
        default:
            std::fill(total.begin(), total.end(), std::numeric_limits<double>::quiet_NaN());
    }
}

std::vector<double> TotalLoads(std::span<const LoadRecord> loads, const ActivePlates& active) {
    std::vector<double> total(loads.size());
    SumActiveLoads(loads, active, total);
    return total;
}

}  // namespace kelvaro
