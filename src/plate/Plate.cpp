#include "plate/Plate.h"

#include <limits>

namespace kelvaro {

LoadRecord ConvertRecord(const RawRecord& raw, const PlateCalibrations& calibration,
                         const ActivePlates& active) {
    LoadRecord load;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        load[i] = raw[i] == kMissingReading ? std::numeric_limits<double>::quiet_NaN()
                  : active[i]               ? calibration[i].Load(static_cast<double>(raw[i]))
                                            : static_cast<double>(raw[i]);
    }
    return load;
}

}  // namespace kelvaro
