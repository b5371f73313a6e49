#include "screens/PlateFinder.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "settings/SettingsStore.h"

namespace kelvaro {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void RealSleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

PlateFinder::PlateFinder(StationState& state, PlateFinderView& view, Dialogs& dialogs,
                         SleepFunction sleep, SerialOs& os)
    : state_(state),
      view_(view),
      dialogs_(dialogs),
      sleep_(sleep ? std::move(sleep) : SleepFunction(RealSleep)),
      os_(os) {}

PlateFinder::~PlateFinder() {
    CloseChannel(probe_);
}

void PlateFinder::SortPortNames(std::vector<std::string>& names) {
    // Names equal but for case keep a fixed order so the plate numbering does not flicker.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const bool less = std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
        if (less) {
            return true;
        }
        const bool greater = std::lexicographical_compare(
            b.begin(), b.end(), a.begin(), a.end(),
            [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
        return !greater && a < b;
    });
}

void PlateFinder::Refresh() {
    // The blink tells the operator the window is alive before a scan blocks it for seconds.
    view_.ShowStatus1Now(
        std::string(view_.Status1() == kStatusWaiting ? kStatusUpdating : kStatusWaiting));
    if (buscaEmAndamento_) {
        return;
    }

    std::vector<std::string> ports = SplitPortList(ListSerialPorts(state_.portRoots));
    SortPortNames(ports);
    state_.ListaPortas = std::move(ports);
    // The count is 8-bit; a machine with more than 255 ports still has ports.
    state_.NumPortas =
        static_cast<std::uint8_t>(std::min<std::size_t>(state_.ListaPortas.size(), 255));

    if (state_.NumPortas == 0) {
        view_.ShowStatus2(std::string(kStatusNoPorts));
        return;
    }
    view_.ShowStatus2(std::string(kStatusTrying));
    // The operator sees adapters by model and serial number; the stored names stay whole.
    std::vector<std::string> shown;
    shown.reserve(state_.ListaPortas.size());
    for (const auto& port : state_.ListaPortas) {
        shown.push_back(PortDisplayName(port));
    }
    view_.ShowPorts(shown);
    view_.SetRefreshInterval(kRefreshMs);

    for (int plate = 1; plate <= kPlateCount; ++plate) {
        CheckPlate(plate);
    }
}

void PlateFinder::Fail(int plate) {
    std::uint8_t& failures = falhasPlaca_.at(plate - 1);
    // Saturate: a count that wrapped to 0 would read as a plate that passed.
    if (failures < 255) {
        ++failures;
    }
}

void PlateFinder::CheckPlate(int plate) {
    const int index = plate - 1;
    if (!view_.PlateTicked(plate)) {
        view_.ShowPlateStatus(plate, std::string(kPlateNotSelected));
        falhasPlaca_[index] = 0;
        return;
    }

    int othersFound = 0;
    for (int other = 1; other <= kPlateCount; ++other) {
        if (other != plate && view_.PlateTicked(other) && state_.PlacaEncontrada[other - 1]) {
            ++othersFound;
        }
    }
    if (othersFound >= state_.NumPortas) {
        // Every port is taken by another selected plate: nothing is left to probe for this one.
        Fail(plate);
    } else {
        if (!state_.PlacaEncontrada[index]) {
            CloseChannel(state_.Slot(plate));
            ProcurarPlacas();
        }
        if (PassesCheck(plate)) {
            falhasPlaca_[index] = 0;
            view_.ShowPlateStatus(
                plate, std::string(kPlateFoundOnPort) + PortDisplayName(state_.PortaPlaca[index]));
        } else {
            Fail(plate);
        }
    }

    if (falhasPlaca_[index] > 0) {
        // The channel stays in its slot; the next tick closes it before scanning again.
        state_.PlacaEncontrada[index] = false;
        view_.ShowPlateStatus(plate, std::string(kPlateNotFound));
    }
}

bool PlateFinder::PassesCheck(int plate) {
    ChannelSlot& slot = state_.Slot(plate);
    if (!SlotConnected(slot)) {
        return false;
    }
    std::uint8_t model = 0;
    if (!IdentifyPlate(*slot, kReplyTimeoutMs, &model)) {
        return false;
    }
    // The station only runs on systems new enough for the model-code check to apply.
    return ModelCodeAccepted(model);
}

bool PlateFinder::AnyTicked() const {
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (view_.PlateTicked(plate)) {
            return true;
        }
    }
    return false;
}

bool PlateFinder::AllFound() const {
    return std::all_of(state_.PlacaEncontrada.begin(), state_.PlacaEncontrada.end(),
                       [](bool found) { return found; });
}

bool PlateFinder::HeldByFoundPlate(const std::string& port) const {
    for (int index = 0; index < kPlateCount; ++index) {
        if (state_.PlacaEncontrada[index] && state_.PortaPlaca[index] == port) {
            return true;
        }
    }
    return false;
}

bool PlateFinder::ProbePort(const std::string& port) {
    // A port another program holds fails here on its exclusive lock: skipped, tried next scan.
    if (!OpenPlateChannel(probe_, port, kFinderQueueSize, os_)) {
        return false;
    }
    probe_->SetDTR(false);
    sleep_(kProbeSettleMs);
    PurgeChannel(probe_);
    sleep_(kProbeSettleMs);
    probe_->SetDTR(true);
    // A port that does not answer keeps its channel in the probe slot until the next open.
    return IdentifyPlate(*probe_, kProbeTimeoutMs);
}

void PlateFinder::TakePort(const std::string& port) {
    CloseChannel(probe_);
    const auto notFound =
        std::find(state_.PlacaEncontrada.begin(), state_.PlacaEncontrada.end(), false);
    const int plate = static_cast<int>(notFound - state_.PlacaEncontrada.begin()) + 1;
    ChannelSlot& slot = state_.Slot(plate);
    if (!OpenPlateChannel(slot, port, kFinderQueueSize, os_)) {
        return;
    }
    state_.PortaPlaca[plate - 1] = port;
    sleep_(kTakeSettleMs);
    PurgeChannel(slot);
    state_.PlacaEncontrada[plate - 1] = true;
    slot->SetDTR(true);
}

void PlateFinder::ProcurarPlacas() {
    buscaEmAndamento_ = true;
    if (AnyTicked() && state_.NumPortas > 0) {
        for (const std::string& port : state_.ListaPortas) {
            if (AllFound()) {
                break;
            }
            if (HeldByFoundPlate(port)) {
                continue;
            }
            if (ProbePort(port)) {
                TakePort(port);
            }
        }
    }
    StoreFoundPorts();
    CloseChannel(probe_);
    buscaEmAndamento_ = false;
}

void PlateFinder::StoreFoundPorts() {
    std::string error;
    bool saved = false;
    {
        SettingsStore store(state_.settingsPath);
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            if (state_.PlacaEncontrada[plate - 1]) {
                store.WriteString(kSettingsSection, "Porta" + std::to_string(plate),
                                  state_.PortaPlaca[plate - 1]);
            }
        }
        saved = store.Close(&error);
    }
    if (saved) {
        saveFailureShown_ = false;
        return;
    }
    if (!saveFailureShown_) {
        // Shown while the scan is still marked running, so a tick during the box does no scan.
        saveFailureShown_ = true;
        dialogs_.MessageBox("Não foi possível salvar as portas das placas encontradas: " + error,
                            "Kelvaro - Comunicação", DialogButtons::Ok, DialogIcon::Error);
    }
}

}  // namespace kelvaro
