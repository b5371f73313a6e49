// What the whole run shares: the plate links and the station's configuration. Created once by
// the main window and handed by reference to every screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/PlateBringUp.h"
#include "device/PortList.h"
#include "device/SerialChannel.h"
#include "plate/Plate.h"

namespace kelvaro {

// Plate-indexed arrays use index plate-1.

// Where the station stands with one plate's link. Only the transitions below change it.
enum class PlateLink : std::uint8_t {
    Closed,      // no channel, or one the station is done with
    Open,        // a channel is open on the plate's port; nothing accepted yet
    Identified,  // it answered Identify as a plate the station accepts
    Configured,  // it accepted the last Configure sent to it
    Streaming,   // it streams the run's samples
    Lost,        // the run lost it (unplugged, silent, garbage); named at the stop, then Closed
    Taken,       // another program opened its port during the run, which that stop names
};

// The four plates' channel slots and where the station stands with each link.
struct PlateLinks {
    PlateLinks() = default;
    ~PlateLinks();  // closes the four channels in order
    PlateLinks(const PlateLinks&) = delete;
    PlateLinks& operator=(const PlateLinks&) = delete;

    std::array<ChannelSlot, kPlateCount> channels;

    ChannelSlot& Slot(int plate) { return channels.at(plate - 1); }
    PlateLink Link(int plate) const { return link_.at(plate - 1); }
    const std::array<PlateLink, kPlateCount>& Links() const { return link_; }

    // The transitions. `Failed` leaves the link where the stage that failed began; `Closed`
    // keeps a loss the operator has not been told of until `Told`, which closes every such link.
    void Opened(int plate) { link_.at(plate - 1) = PlateLink::Open; }
    void Identified(int plate) { link_.at(plate - 1) = PlateLink::Identified; }
    void Configured(int plate) { link_.at(plate - 1) = PlateLink::Configured; }
    void Streams(int plate) { link_.at(plate - 1) = PlateLink::Streaming; }
    void Lost(int plate) { link_.at(plate - 1) = PlateLink::Lost; }
    void Taken(int plate) { link_.at(plate - 1) = PlateLink::Taken; }
    void Failed(int plate, PlateBringUp::Stage stage);
    void Closed(int plate);
    void Told();
    // Closes channels 1..4 in order (DTR low and Stop for each open one).
    void CloseAll();

  private:
    std::array<PlateLink, kPlateCount> link_{};
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
    // The plates the communication screen located on StationConfig::platePort: the finder's
    // own result, which a run or a calibration leaves as it is.
    std::array<bool, kPlateCount> located{};
    // The last test number handed out that the settings could not keep (0: none), so the
    // next export counts on from it; and whether the operator has been told.
    std::int64_t unstoredTestNumber = 0;
    bool unstoredTestNumberTold = false;
};

}  // namespace kelvaro
