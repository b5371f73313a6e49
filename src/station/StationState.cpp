#include "station/StationState.h"
#include "device/ChannelSlot.h"
#include "device/SerialChannel.h"

namespace kelvaro {

PlateLinks::~PlateLinks() {
    CloseAll();
}

void PlateLinks::CloseAll() {
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        CloseChannel(Slot(plate));
        Closed(plate);
    }
}

void PlateLinks::Failed(int plate, PlateBringUp::Stage stage) {
    switch (stage) {
        case PlateBringUp::Stage::Connect:
            link_.at(plate - 1) = PlateLink::Closed;
            break;
        case PlateBringUp::Stage::Identify:
            link_.at(plate - 1) = PlateLink::Open;
            break;
        case PlateBringUp::Stage::Configure:
            link_.at(plate - 1) = PlateLink::Identified;
            break;
        case PlateBringUp::Stage::Start:
            link_.at(plate - 1) = PlateLink::Configured;
            break;
    }
}

void PlateLinks::Closed(int plate) {
    PlateLink& state = link_.at(plate - 1);
    if (state != PlateLink::Lost && state != PlateLink::Taken) {
        state = PlateLink::Closed;
    }
}

void PlateLinks::Told() {
    for (PlateLink& state : link_) {
        if (state == PlateLink::Lost || state == PlateLink::Taken) {
            state = PlateLink::Closed;
        }
    }
}

}  // namespace kelvaro
