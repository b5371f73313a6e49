#include "station/StationState.h"

namespace kelvaro {

StationState::StationState()
    : Amostras(std::make_unique<std::array<SampleRecord, kMaxSamples>>()) {}

StationState::~StationState() {
    CloseAllChannels();
}

void StationState::CloseAllChannels() {
    for (auto& slot : PlateChannel) {
        CloseChannel(slot);
    }
}

bool ConfigurarPlaca(StationState& state, int plate, std::uint8_t mode) {
    bool& ok = state.PlacaOk.at(plate - 1);
    ok = false;
    ChannelSlot& slot = state.Slot(plate);
    if (!slot) {
        return false;
    }
    ok = ConfigurePlate(*slot, state.FrequenciaTeste, mode);
    return ok;
}

}  // namespace kelvaro
