#include "device/ChannelSlot.h"

#include <cerrno>
#include <chrono>
#include <exception>

#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

LinkStatus OpenChannel(ChannelSlot& slot, const std::string& portName, int baudRate, int dataBits,
                       char parity, int stopBits, bool softwareFlow, bool hardwareFlow,
                       int /*receiveQueueSize*/, SerialOs& os, HolderLook look) {
    if (slot) {
        slot->Release();  // nothing is sent to the old port
        slot.reset();
    }
    // The one place the link allocates: the channel, its look-ahead room and the look for
    // other programs holding the port. Running out of memory here fails the open.
    try {
        slot = std::make_unique<SerialChannel>(portName, os);
        SerialChannel& channel = *slot;
        if (channel.Connect(look)) {
            LineSettings settings;
            settings.baudRate = baudRate;
            settings.dataBits = dataBits;
            settings.parity = parity;
            settings.stopBits = stopBits;
            settings.softwareFlow = softwareFlow;
            settings.hardwareFlow = hardwareFlow;
            channel.Configure(settings);
        }
        // After a failed connect the line is not configured: the channel keeps the open's
        // error rather than a generic "not connected".
        return channel.LastStatus();
    } catch (const std::exception&) {
        slot.reset();
        return {LinkError::System, ENOMEM};
    }
}

LinkStatus OpenPlateChannel(ChannelSlot& slot, const std::string& portName, int receiveQueueSize,
                            SerialOs& os, HolderLook look) {
    return OpenChannel(slot, portName, 115200, 8, 'n', 2, false, false, receiveQueueSize, os, look);
}

void CloseChannel(ChannelSlot& slot) {
    if (!slot) {
        return;
    }
    slot->SetDTR(false);
    SendStop(*slot);
    slot->Release();
    slot.reset();
}

bool PurgeChannel(SerialChannel* channel) {
    if (channel == nullptr) {
        return false;
    }
    channel->Purge();
    return true;
}

bool DiscardUntilQuiet(SerialChannel& channel, int quietMs, int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::uint8_t buffer[256];
    while (std::chrono::steady_clock::now() < deadline) {
        // The read's time-out restarts with every byte: a time-out means a quiet line. A line
        // fault (a port opened in the middle of a byte) is just more noise to throw away.
        if (channel.ReadBytes(buffer, sizeof buffer, quietMs) < sizeof buffer &&
            channel.LastStatus().error != LinkError::LineFault) {
            return channel.LastStatus().error == LinkError::Timeout;
        }
    }
    return false;
}

}  // namespace kelvaro
