#include "run/RunStartUp.h"

#include <string>

#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "run/RunWords.h"

namespace kelvaro {

namespace {

StartUpStep StepOf(PlateBringUp::Stage stage) {
    switch (stage) {
        case PlateBringUp::Stage::Connect:
            return StartUpStep::Connect;
        case PlateBringUp::Stage::Identify:
            return StartUpStep::Identify;
        case PlateBringUp::Stage::Configure:
            return StartUpStep::Configure;
        case PlateBringUp::Stage::Start:
            return StartUpStep::Start;
    }
    return StartUpStep::Connect;
}

}  // namespace

void StopActivePlates(StationState& state) {
    // The close puts DTR low and sends the Stop.
    for (int p = 1; p <= kPlateCount; ++p) {
        if (state.config.plateActive[static_cast<std::size_t>(p - 1)]) {
            CloseChannel(state.links.Slot(p));
            state.links.Closed(p);
        }
    }
}

RunStartUp::RunStartUp(StationState& state, TestRunView& view) : state_(state), view_(view) {}

RunStartUp::~RunStartUp() = default;

RunStartUp::Outcome RunStartUp::Begin(bool streams) {
    streams_ = streams;
    plate_ = 0;
    failure_ = {};
    return NextPlate();
}

void RunStartUp::Cancel() {
    bringUp_.reset();
}

RunStartUp::Outcome RunStartUp::NextPlate() {
    do {
        ++plate_;
    } while (plate_ <= kPlateCount &&
             !state_.config.plateActive[static_cast<std::size_t>(plate_ - 1)]);
    if (plate_ > kPlateCount) {
        bringUp_.reset();
        return Outcome::Done;
    }
    const auto i = static_cast<std::size_t>(plate_ - 1);
    ChannelSlot& slot = state_.links.Slot(plate_);
    bringUp_ =
        std::make_unique<PlateBringUp>(slot, state_.config.platePort[i], PlateBringUp::Options{});
    if (streams_) {
        bringUp_->StartStream();
    } else {
        view_.SetStatusText(PlateText(" Aguarde Conectando a Placa ", plate_, " ..."), true);
    }
    view_.ScheduleStartUpStep(0);
    return Outcome::Working;
}

RunStartUp::Outcome RunStartUp::Step() {
    if (!bringUp_) {
        return Outcome::Working;
    }
    switch (bringUp_->Step()) {
        case PlateBringUp::Event::Working:
            break;
        case PlateBringUp::Event::Opened:
            state_.links.Opened(plate_);
            view_.SetStatusText(PlateText(" Aguarde Identificando a Placa ", plate_, " ..."), true);
            break;
        case PlateBringUp::Event::Identified:
            if (const Outcome outcome = Identified(); outcome != Outcome::Working) {
                return outcome;
            }
            break;
        case PlateBringUp::Event::Configured:
        case PlateBringUp::Event::Streaming:
            if (streams_) {
                state_.links.Streams(plate_);
            } else {
                state_.links.Configured(plate_);
            }
            return NextPlate();
        case PlateBringUp::Event::Failed: {
            const PlateBringUp::Stage stage = bringUp_->FailedStage();
            state_.links.Failed(plate_, stage);
            if (stage == PlateBringUp::Stage::Start) {
                // The plates started before this one would otherwise stream into ports nobody
                // reads until some later open; stop them all and leave the screen usable.
                StopActivePlates(state_);
            }
            return Fail(StepOf(stage), bringUp_->FailedStatus());
        }
    }
    view_.ScheduleStartUpStep(bringUp_->NextStepMs());
    return Outcome::Working;
}

RunStartUp::Outcome RunStartUp::Identified() {
    const auto i = static_cast<std::size_t>(plate_ - 1);
    // The same rule as the communication screen's search: a device that answers but is no
    // plate the station knows must not record a test as this plate.
    const std::uint8_t model = bringUp_->Model();
    if (!ModelCodeAccepted(model)) {
        failure_.model = model;
        return Fail(StartUpStep::Model);
    }
    state_.links.Identified(plate_);
    view_.SetStatusText(PlateText(" Aguarde Configurando a Placa ", plate_, " ..."), true);
    if (state_.config.calibrationFrequency[i] != state_.config.testFrequency) {
        return Fail(StartUpStep::Frequency);
    }
    bringUp_->Configure(state_.config.testFrequency, kModeTest);
    return Outcome::Working;
}

RunStartUp::Outcome RunStartUp::Fail(StartUpStep step, LinkStatus status) {
    failure_.plate = plate_;
    failure_.step = step;
    failure_.status = status;
    return Outcome::Failed;
}

}  // namespace kelvaro
