// What the whole run shares: the four plate channel slots and per-plate flags, the test and
// calibration frequencies and the last port listing. Created once by the main window and handed
// by reference to every screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/PortList.h"
#include "device/SerialChannel.h"

namespace kelvaro {

inline constexpr int kPlateCount = 4;

struct StationState {
    StationState();
    ~StationState();  // closes the four plate channels in order
    StationState(const StationState&) = delete;
    StationState& operator=(const StationState&) = delete;

    // Plate-indexed arrays use index plate-1.
    std::array<ChannelSlot, kPlateCount> PlateChannel;
    std::array<std::string, kPlateCount> platePort;
    std::array<bool, kPlateCount> plateActive{};
    std::array<bool, kPlateCount> plateConfigured{};
    std::array<bool, kPlateCount> plateFound{};
    std::array<std::int32_t, kPlateCount> calibrationFrequency{50, 50, 50, 50};
    std::int32_t testFrequency = 50;
    // Set at start-up and cleared by the calibration screen's first activation: only that
    // one opens the ticked plates' channels; later visits leave it to the reading tick.
    bool calibrationFirstActivation = true;

    std::vector<std::string> portNames;
    std::uint8_t portCount = 0;

    // Where the station's settings file lives (a temporary file in tests).
    std::string settingsPath;
    // The last test number handed out that the settings could not keep (0: none), so the
    // next export counts on from it; and whether the operator has been told.
    std::int64_t unstoredTestNumber = 0;
    bool unstoredTestNumberTold = false;
    // The user's decimal separator for number texts (',' in a Portuguese locale).
    char decimalSeparator = '.';
    // The port-list roots (fake trees in tests).
    PortListRoots portRoots;

    ChannelSlot& Slot(int plate) { return PlateChannel.at(plate - 1); }
    // Closes PlateChannel 1..4 in order (DTR low and Stop for each open one).
    void CloseAllChannels();
};

// Sends Configure with testFrequency and `mode` on the plate's channel and records the
// outcome in plateConfigured[plate]. The channel must be present.
bool configureAndRecord(StationState& state, int plate, std::uint8_t mode);

}  // namespace kelvaro
