// What the whole run shares: the plate links and the station's configuration. Created once by
// the main window and handed by reference to every screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/PortList.h"
#include "device/SerialChannel.h"
#include "plate/Plate.h"

namespace kelvaro {

// Plate-indexed arrays use index plate-1.

// The four plates' channel slots and what the station has learnt of each link.
struct PlateLinks {
    PlateLinks() = default;
    ~PlateLinks();  // closes the four channels in order
    PlateLinks(const PlateLinks&) = delete;
    PlateLinks& operator=(const PlateLinks&) = delete;

    std::array<ChannelSlot, kPlateCount> channels;
    // The plate accepted the last Configure sent to it.
    std::array<bool, kPlateCount> configured{};
    // The communication screen found the plate (its port is in StationConfig::platePort).
    std::array<bool, kPlateCount> found{};

    ChannelSlot& Slot(int plate) { return channels.at(plate - 1); }
    // Closes channels 1..4 in order (DTR low and Stop for each open one).
    void CloseAll();
};

// What the station works with: where its settings live, the user's number notation, where
// ports are listed, and what the settings said of the plates and frequencies when last read.
struct StationConfig {
    // Where the station's settings file lives (a temporary file in tests).
    std::string settingsPath;
    // Where the run journals are kept (a temporary folder in tests); empty: runs keep none.
    std::string journalFolder;
    // The user's decimal separator for number texts (',' in a Portuguese locale).
    char decimalSeparator = '.';
    // The port-list roots (fake trees in tests).
    PortListRoots portRoots;

    std::array<std::string, kPlateCount> platePort;
    ActivePlates plateActive{};
    std::array<std::int32_t, kPlateCount> calibrationFrequency{50, 50, 50, 50};
    std::int32_t testFrequency = 50;
};

struct StationState {
    PlateLinks links;
    StationConfig config;
    // The last test number handed out that the settings could not keep (0: none), so the
    // next export counts on from it; and whether the operator has been told.
    std::int64_t unstoredTestNumber = 0;
    bool unstoredTestNumberTold = false;
};

// Sends Configure with the test frequency and `mode` on the plate's channel and records the
// outcome in links.configured. The channel must be present.
bool ConfigureAndRecord(StationState& state, int plate, std::uint8_t mode);

}  // namespace kelvaro
