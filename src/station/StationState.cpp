#include "station/StationState.h"
#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

StationState::StationState() = default;

StationState::~StationState() {
    CloseAllChannels();
}

void StationState::CloseAllChannels() {
    for (auto& slot : PlateChannel) {
        CloseChannel(slot);
    }
}

bool configureAndRecord(StationState& state, int plate, std::uint8_t mode) {
    bool& ok = state.plateConfigured.at(plate - 1);
    ok = false;
    ChannelSlot& slot = state.Slot(plate);
    if (!slot) {
        return false;
    }
    ok = ConfigurePlate(*slot, state.testFrequency, mode).Ok();
    return ok;
}

}  // namespace kelvaro
