#include "discovery/PlateFinder.h"

#include <algorithm>
#include <utility>

#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/PlateCommands.h"
#include "device/PortList.h"
#include "device/SerialChannel.h"
#include "station/FileErrorText.h"
#include "station/StationSettings.h"

namespace kelvaro {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

PlateFinder::PlateFinder(StationState& state, PlateFinderView& view, Dialogs& dialogs, SerialOs& os)
    : state_(state), view_(view), dialogs_(dialogs), os_(os) {}

PlateFinder::~PlateFinder() {
    Abort();
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
    // The blink tells the operator the station is alive while plates are being looked for.
    statusWaiting_ = !statusWaiting_;
    view_.ShowSearchStatusNow(std::string(statusWaiting_ ? kStatusWaiting : kStatusUpdating));
    if (PassRunning()) {
        return;
    }

    std::vector<std::string> ports = ListSerialPorts(state_.config.portRoots);
    SortPortNames(ports);
    portNames_ = std::move(ports);

    if (portNames_.empty()) {
        view_.ShowHint(std::string(kStatusNoPorts));
        return;
    }
    view_.ShowHint(std::string(kStatusTrying));
    // The operator sees adapters by model and serial number; the stored names stay whole.
    std::vector<std::string> shown;
    shown.reserve(portNames_.size());
    for (const auto& port : portNames_) {
        shown.push_back(PortDisplayName(port));
    }
    view_.ShowPorts(shown);
    view_.SetRefreshInterval(kRefreshMs);

    // One scan serves every ticked plate still to be found: their old channels are closed
    // first, so a plate still on its old port is found there again.
    bool scan = false;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (view_.PlateTicked(plate) && !state_.located[plate - 1] &&
            !OthersFoundLeaveNoPort(plate)) {
            CloseChannel(state_.links.Slot(plate));
            state_.links.Closed(plate);
            scan = true;
        }
    }
    if (scan) {
        StartScan();
    } else {
        StartChecks();
    }
}

void PlateFinder::Step() {
    switch (phase_) {
        case Phase::Idle:
        case Phase::Storing:
            return;
        case Phase::Looking:
            if (!look_->Done()) {
                view_.ScheduleStep(kReplyPollMs);
                return;
            }
            OpenProbes();
            return;
        case Phase::ProbeLineLow:
            for (Probe& probe : probes_) {
                PurgeChannel(probe.slot);
            }
            phase_ = Phase::ProbePurged;
            view_.ScheduleStep(kProbeSettleMs);
            return;
        case Phase::ProbePurged:
            AskProbes();
            return;
        case Phase::ProbeReplies: {
            bool waiting = false;
            for (Probe& probe : probes_) {
                waiting = StillWaiting(probe.identify) || waiting;
            }
            if (waiting) {
                view_.ScheduleStep(kReplyPollMs);
            } else {
                TakeAnsweringPorts();
            }
            return;
        }
        case Phase::TakeSettle:
            for (int plate : taken_) {
                ChannelSlot& slot = state_.links.Slot(plate);
                PurgeChannel(slot);
                if (slot) {
                    slot->SetDTR(true);
                }
            }
            taken_.clear();
            FinishScan();
            return;
        case Phase::Checks: {
            bool waiting = false;
            for (auto& check : checks_) {
                waiting = StillWaiting(check) || waiting;
            }
            if (waiting) {
                view_.ScheduleStep(kReplyPollMs);
            } else {
                DecideChecks();
            }
            return;
        }
    }
}

void PlateFinder::Abort() {
    for (auto& check : checks_) {
        check.reset();
    }
    look_.reset();
    candidates_.clear();
    ReleaseProbes();
    taken_.clear();
    searching_ = false;
    phase_ = Phase::Idle;
}

bool PlateFinder::StillWaiting(std::optional<PendingExchange>& exchange) {
    return exchange && exchange->Poll() == PendingExchange::State::Waiting;
}

void PlateFinder::SetHolderLook(std::string procRoot, std::function<void()> beforeLook) {
    procRoot_ = std::move(procRoot);
    beforeLook_ = std::move(beforeLook);
}

void PlateFinder::StartScan() {
    searching_ = true;
    probes_.clear();
    candidates_.clear();
    if (AnyTicked() && !portNames_.empty() && !AllFound()) {
        for (const std::string& port : portNames_) {
            if (!HeldByFoundPlate(port)) {
                candidates_.push_back(port);
            }
        }
    }
    if (candidates_.empty()) {
        FinishScan();
        return;
    }
    // The look walks every descriptor on the machine (seconds with a hundred thousand of
    // them): one look for all the ports, on its own thread, while the window goes on.
    std::vector<std::string> paths;
    paths.reserve(candidates_.size());
    for (const std::string& port : candidates_) {
        paths.push_back(SerialChannel::DevicePath(port));
    }
    look_ = std::make_unique<PortHolderLook>(std::move(paths), procRoot_, beforeLook_);
    phase_ = Phase::Looking;
    view_.ScheduleStep(kReplyPollMs);
}

void PlateFinder::OpenProbes() {
    const std::vector<bool> held = look_->Held();
    look_.reset();
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        // A port another program holds is skipped (it fails here on its exclusive lock too)
        // and tried again next scan.
        if (held[i]) {
            continue;
        }
        Probe probe{candidates_[i], nullptr, std::nullopt};
        if (!OpenPlateChannel(probe.slot, probe.port, kFinderQueueSize, os_,
                              HolderLook::DoneBefore)) {
            continue;
        }
        probe.slot->SetDTR(false);
        probes_.push_back(std::move(probe));
    }
    candidates_.clear();
    if (probes_.empty()) {
        FinishScan();
        return;
    }
    phase_ = Phase::ProbeLineLow;
    view_.ScheduleStep(kProbeSettleMs);
}

void PlateFinder::AskProbes() {
    for (Probe& probe : probes_) {
        probe.slot->SetDTR(true);
        probe.identify.emplace(*probe.slot, kIdentify, kProbeTimeoutMs);
    }
    phase_ = Phase::ProbeReplies;
    Step();
}

void PlateFinder::TakeAnsweringPorts() {
    for (Probe& probe : probes_) {
        if (AllFound()) {
            break;
        }
        const bool answered =
            probe.identify && probe.identify->Current() == PendingExchange::State::Valid;
        // A device of a model the station does not accept is no plate: its port is neither
        // given a plate number nor stored, and it is probed again by the next scan.
        if (!answered || !ModelCodeAccepted(probe.identify->Reply().Data(0))) {
            continue;
        }
        probe.identify.reset();
        CloseChannel(probe.slot);
        const auto notFound = std::find(state_.located.begin(), state_.located.end(), false);
        const int plate = static_cast<int>(notFound - state_.located.begin()) + 1;
        // The probe held the port until just now: the look before it stands.
        if (!OpenPlateChannel(state_.links.Slot(plate), probe.port, kFinderQueueSize, os_,
                              HolderLook::DoneBefore)) {
            continue;
        }
        state_.config.platePort[plate - 1] = probe.port;
        state_.located[plate - 1] = true;
        state_.links.Identified(plate);
        taken_.push_back(plate);
    }
    ReleaseProbes();
    if (taken_.empty()) {
        FinishScan();
        return;
    }
    phase_ = Phase::TakeSettle;
    view_.ScheduleStep(kTakeSettleMs);
}

void PlateFinder::FinishScan() {
    // The failure box of a save runs events: the pass stays running meanwhile, so a tick only
    // blinks, and a pass aborted while the box was open is not taken up again.
    phase_ = Phase::Storing;
    StoreFoundPorts();
    if (!searching_) {
        return;
    }
    searching_ = false;
    StartChecks();
}

void PlateFinder::StartChecks() {
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        auto& check = checks_.at(plate - 1);
        check.reset();
        ChannelSlot& slot = state_.links.Slot(plate);
        if (view_.PlateTicked(plate) && SlotConnected(slot)) {
            check.emplace(*slot, kIdentify);
        }
    }
    phase_ = Phase::Checks;
    Step();
}

void PlateFinder::DecideChecks() {
    // In plate order: a plate that fails its check frees its port for the count of the
    // plates after it.
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const int index = plate - 1;
        if (!view_.PlateTicked(plate)) {
            view_.ShowPlateStatus(plate, std::string(kPlateNotSelected));
            failureCounts_[index] = 0;
            continue;
        }
        if (!OthersFoundLeaveNoPort(plate) && PassedCheck(plate)) {
            failureCounts_[index] = 0;
            view_.ShowPlateStatus(plate, std::string(kPlateFoundOnPort) +
                                             PortDisplayName(state_.config.platePort[index]));
        } else {
            Fail(plate);
        }
        if (failureCounts_[index] > 0) {
            // The channel stays in its slot; the next pass closes it before scanning again.
            state_.located[index] = false;
            view_.ShowPlateStatus(plate, std::string(kPlateNotFound));
        }
    }
    for (auto& check : checks_) {
        check.reset();
    }
    phase_ = Phase::Idle;
}

void PlateFinder::Fail(int plate) {
    std::uint8_t& failures = failureCounts_.at(plate - 1);
    // Saturate: a count that wrapped to 0 would read as a plate that passed.
    if (failures < 255) {
        ++failures;
    }
}

bool PlateFinder::OthersFoundLeaveNoPort(int plate) const {
    std::size_t othersFound = 0;
    for (int other = 1; other <= kPlateCount; ++other) {
        if (other != plate && view_.PlateTicked(other) && state_.located[other - 1]) {
            ++othersFound;
        }
    }
    return othersFound >= portNames_.size();
}

bool PlateFinder::PassedCheck(int plate) const {
    const auto& check = checks_.at(plate - 1);
    // A plate ticked while the pass ran was not asked: it is looked for by the next pass.
    if (!check || check->Current() != PendingExchange::State::Valid ||
        !SlotConnected(state_.links.Slot(plate))) {
        return false;
    }
    // The station only runs on systems new enough for the model-code check to apply.
    return ModelCodeAccepted(check->Reply().Data(0));
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
    return std::all_of(state_.located.begin(), state_.located.end(),
                       [](bool located) { return located; });
}

bool PlateFinder::HeldByFoundPlate(const std::string& port) const {
    for (int index = 0; index < kPlateCount; ++index) {
        if (state_.located[index] && state_.config.platePort[index] == port) {
            return true;
        }
    }
    return false;
}

void PlateFinder::ReleaseProbes() {
    for (Probe& probe : probes_) {
        probe.identify.reset();
        if (probe.slot) {
            // Nothing is sent to a port that did not answer: it may be no plate at all.
            probe.slot->Release();
            probe.slot.reset();
        }
    }
    probes_.clear();
}

void PlateFinder::StoreFoundPorts() {
    FileStatus saved;
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            if (state_.located[plate - 1]) {
                settings.SetPlatePort(plate, state_.config.platePort[plate - 1]);
            }
        }
        saved = settings.Close();
    }
    if (saved) {
        saveFailureShown_ = false;
        return;
    }
    if (!saveFailureShown_) {
        // Shown while the scan is still marked running, so a tick during the box does no scan.
        saveFailureShown_ = true;
        dialogs_.MessageBox("Não foi possível salvar as portas das placas encontradas: " +
                                FileErrorText(*saved.error),
                            "Kelvaro - Comunicação", DialogButtons::Ok, DialogIcon::Error);
    }
}

}  // namespace kelvaro
