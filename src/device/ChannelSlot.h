// Opening, closing and purging the channel a plate slot holds, with the plates' line settings.
#pragma once

#include <string>

#include "device/LinkError.h"
#include "device/SerialChannel.h"

namespace kelvaro {

// Releases a channel the slot held (nothing is sent), places a new one in it, connects and
// configures it; the channel's last error afterwards. A failed open leaves a channel that is
// not connected in the slot (an empty slot when memory ran out). `os` is the seam tests record
// through. `receiveQueueSize` is what the caller needs buffered (8192 or less for every caller);
// Linux offers no per-port input queue to request and always buffers more, so it is not applied.
LinkStatus OpenChannel(ChannelSlot& slot, const std::string& portName, int baudRate, int dataBits,
                       char parity, int stopBits, bool softwareFlow, bool hardwareFlow,
                       int receiveQueueSize, SerialOs& os = SerialOs::System(),
                       HolderLook look = HolderLook::AtOpen);
// Opens with the plates' line settings: 115200 8N2, no flow control.
LinkStatus OpenPlateChannel(ChannelSlot& slot, const std::string& portName, int receiveQueueSize,
                            SerialOs& os = SerialOs::System(),
                            HolderLook look = HolderLook::AtOpen);
// DTR low, Stop, release, slot empty. The one place a plate is sent Stop when a screen, a
// test or the program is done with it.
void CloseChannel(ChannelSlot& slot);
// False for an empty slot / null channel; true otherwise.
bool PurgeChannel(SerialChannel* channel);
inline bool PurgeChannel(ChannelSlot& slot) {
    return PurgeChannel(slot.get());
}
// Reads and throws away what the channel receives until nothing has come for `quietMs`,
// giving up after `limitMs`; true when the line went quiet, false when it did not or the
// port failed. A plate sent Stop may still have a report on its way.
bool DiscardUntilQuiet(SerialChannel& channel, int quietMs, int limitMs);
inline bool SlotConnected(const ChannelSlot& slot) {
    return slot && slot->IsConnected();
}

}  // namespace kelvaro
