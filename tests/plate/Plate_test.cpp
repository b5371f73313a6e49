// The one load formula and the conversion of a sample every reader of a run shares: the
// exported and journalled runs depend on their exact rounding.
#include "plate/Plate.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelvaro {
namespace {

TEST(PlateCalibration, ConversionOrder) {
    EXPECT_EQ((PlateCalibration{1000.0, 200.0, 10.0}.Load(3000.0)), 0.0);
    EXPECT_EQ((PlateCalibration{0.0, 1.0, 0.0}.Load(16000000.0)), 16000000.0);
    EXPECT_EQ((PlateCalibration{1000.0, -50.0, 0.0}.Load(900.0)), 2.0);
}

TEST(ConvertRecord, ConvertsActivePlatesCopiesIdleOnesAndKeepsMissingReadingsMissing) {
    const PlateCalibrations calibration{
        {{0.1, 0.7, -1.5}, {8388123.5, 104.8576, 0.0}, {0.5, 3.0, 1.0}, {1520.0, -12.3456, 2.75}}};
    const RawRecord raw{77, 0xFFFFFF, 77, kMissingReading};
    const LoadRecord load = ConvertRecord(raw, calibration, {true, true, false, true});
    // Bit for bit the formula as it is written out, in its order of operations: plate 1's load
    // comes out a bit different from any other order.
    for (std::size_t i : {0U, 1U}) {
        const PlateCalibration& c = calibration[i];
        EXPECT_EQ(load[i], ((static_cast<double>(raw[i]) - c.zeroOffset) / c.index) - c.tare) << i;
    }
    EXPECT_EQ(load[2], 77.0);
    EXPECT_TRUE(std::isnan(load[3]));
}

}  // namespace
}  // namespace kelvaro
