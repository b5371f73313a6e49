// What the calibration screen reads when it opens: defaults, the exact tare caption rule and
// the stored values reaching their plate.
#include "calibration/CalibrationSettings.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace kelvaro {
namespace {

using testing::TempDir;

TEST(CalibrationSettings, FirstRunDefaults) {
    TempDir dir;
    const auto s = ReadCalibrationSettings(StationSettings(dir.File("empty.ini"), ','));
    EXPECT_EQ(s.frequency, 50);
    for (int plate = 1; plate <= 4; ++plate) {
        const auto& p = s.plates.at(static_cast<std::size_t>(plate - 1));
        EXPECT_EQ(p.active, plate == 1);
        EXPECT_EQ(p.port, "");
        EXPECT_EQ(p.load, "50");
        EXPECT_EQ(p.unit, "kgf");
        EXPECT_EQ(p.values.index, 1.0);
        EXPECT_EQ(p.values.tare, 0.0);
        EXPECT_EQ(p.values.zeroOffset, 0.0);
        EXPECT_FALSE(p.tareApplied);
    }
}

TEST(CalibrationSettings, StoredValuesReachTheirPlate) {
    TempDir dir;
    {
        SettingsStore store(dir.File("s.ini"));
        store.WriteString(kSettingsSection, "Frequencia", "256");  // no rate a plate runs at
        store.WriteString(kSettingsSection, "check1", "0");
        store.WriteString(kSettingsSection, "check4", "1");
        store.WriteString(kSettingsSection, "porta4", "/dev/ttyUSB0");
        store.WriteString(kSettingsSection, "carga4", "75");  // the spelling closing writes
        store.WriteString(kSettingsSection, "idc4", "1000,0000");
        store.WriteString(kSettingsSection, "btt2", "tara");
        store.WriteString(kSettingsSection, "btt3", "Remover Tara");
        ASSERT_TRUE(store.Close());
    }
    const auto s = ReadCalibrationSettings(StationSettings(dir.File("s.ini"), ','));
    EXPECT_EQ(s.frequency, 50);
    EXPECT_FALSE(s.plates[0].active);
    EXPECT_TRUE(s.plates[3].active);
    EXPECT_EQ(s.plates[3].port, "/dev/ttyUSB0");
    EXPECT_EQ(s.plates[3].load, "75");
    EXPECT_EQ(s.plates[3].values.index, 1000.0);
    EXPECT_FALSE(s.plates[0].tareApplied);
    EXPECT_TRUE(s.plates[1].tareApplied);
    EXPECT_TRUE(s.plates[2].tareApplied);
}

}  // namespace
}  // namespace kelvaro
