#include "station/StationState.h"
#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

PlateLinks::~PlateLinks() {
    CloseAll();
}

void PlateLinks::CloseAll() {
    for (auto& slot : channels) {
        CloseChannel(slot);
    }
}

bool ConfigureAndRecord(StationState& state, int plate, std::uint8_t mode) {
    bool& ok = state.links.configured.at(plate - 1);
    ok = false;
    ChannelSlot& slot = state.links.Slot(plate);
    if (!slot) {
        return false;
    }
    ok = ConfigurePlate(*slot, state.config.testFrequency, mode).Ok();
    return ok;
}

}  // namespace kelvaro
