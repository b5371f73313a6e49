#include "device/ChannelSlot.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

bool OpenChannel(ChannelSlot& slot, const std::string& portName, int baudRate, int dataBits,
                 char parity, int stopBits, bool softwareFlow, bool hardwareFlow,
                 int /*receiveQueueSize*/, SerialOs& os) {
    try {
        if (slot) {
            slot->Release();  // nothing is sent to the old port
            slot.reset();
        }
        slot = std::make_unique<SerialChannel>(portName, os);
        SerialChannel& channel = *slot;
        if (channel.Connect()) {
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
        // errno as its (nonzero) last error rather than a generic "not connected".
        return channel.LastError() == 0;
    } catch (...) {
        slot.reset();
        return false;
    }
}

bool OpenPlateChannel(ChannelSlot& slot, const std::string& portName, int receiveQueueSize,
                      SerialOs& os) {
    return OpenChannel(slot, portName, 115200, 8, 'n', 2, false, false, receiveQueueSize, os);
}

bool CloseChannel(ChannelSlot& slot) {
    if (!slot) {
        return true;
    }
    try {
        slot->SetDTR(false);
    } catch (...) {
    }
    try {
        slot->WriteBytes(kStop.data(), kStop.size());
    } catch (...) {
    }
    try {
        slot->Release();
    } catch (...) {
    }
    slot.reset();
    return true;
}

bool PurgeChannel(SerialChannel* channel) {
    if (channel == nullptr) {
        return false;
    }
    try {
        channel->Purge();
    } catch (...) {
    }
    return true;
}

bool DiscardUntilQuiet(SerialChannel& channel, int quietMs, int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::uint8_t buffer[256];
    while (std::chrono::steady_clock::now() < deadline) {
        // The read's time-out restarts with every byte: a time-out means a quiet line. A line
        // fault (a port opened in the middle of a byte) is just more noise to throw away.
        if (channel.ReadBytes(buffer, sizeof buffer, quietMs) < sizeof buffer &&
            channel.LastError() != SerialChannel::kErrorLineFault) {
            return channel.LastError() == SerialChannel::kErrorTimeout;
        }
    }
    return false;
}

}  // namespace kelvaro
