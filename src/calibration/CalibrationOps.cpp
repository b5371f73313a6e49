#include "calibration/CalibrationOps.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <utility>

#include "device/ChannelSlot.h"
#include "device/Link.h"
#include "device/PlateBringUp.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "settings/NumberText.h"
#include "station/FileErrorText.h"
#include "station/StationSettings.h"

namespace kelvaro {

namespace {

constexpr int kReceiveQueue = 4096;

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point when) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

std::string PlateText(int plate) {
    return "Placa " + std::to_string(plate);
}

std::string PlateTitle(int plate, const std::string& action) {
    return PlateText(plate) + " - " + action;
}

// DTR low, purge, DTR high. A channel that is not connected (a failed opening stays in its
// slot) cannot carry the sequence, and a modem-line or purge error ends it.
bool LineReset(SerialChannel& channel) {
    if (!channel.IsConnected()) {
        return false;
    }
    channel.SetDTR(false);
    if (!channel.LastStatus()) {
        return false;
    }
    channel.Purge();
    if (!channel.LastStatus()) {
        return false;
    }
    channel.SetDTR(true);
    return channel.LastStatus().Ok();
}

// Stops the reading timer for the life of an operation that talks to a plate and restarts it
// on every way out, after the operation's last message and store, unless the screen is closing.
// A live reading still waiting for its reply is dropped: the operation's exchanges need the
// channel to themselves. An operation that waits for its plate's preparation keeps it alive.
class ReadingPause {
  public:
    ReadingPause(CalibrationView& view,
                 std::array<std::optional<PendingExchange>, kPlateCount>& reading,
                 const bool& closing)
        : view_(view), closing_(closing) {
        view_.StopReadingTimer();
        for (auto& exchange : reading) {
            exchange.reset();
        }
    }
    ~ReadingPause() {
        if (!closing_) {
            view_.StartReadingTimer();
        }
    }
    ReadingPause(const ReadingPause&) = delete;
    ReadingPause& operator=(const ReadingPause&) = delete;

  private:
    CalibrationView& view_;
    const bool& closing_;
};

}  // namespace

CalibrationOps::CalibrationOps(StationState& state, Dialogs& dialogs, ProgressView& progress,
                               CalibrationView& view, bool& firstActivation)
    : state_(state),
      dialogs_(dialogs),
      progress_(progress),
      view_(view),
      firstActivation_(firstActivation) {}

CalibrationOps::~CalibrationOps() {
    closing_ = true;
    preparation_.reset();
}

CalibrationScreenSettings CalibrationOps::Open() {
    StationSettings stored(state_.config.settingsPath, state_.config.decimalSeparator);
    CalibrationScreenSettings settings = ReadCalibrationSettings(stored);
    stored.Close();  // nothing was written, so there is nothing that could fail to save
    state_.config.testFrequency = settings.frequency;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        values_.at(Index(plate)) = settings.plates.at(Index(plate)).values;
        ports_.at(Index(plate)) = settings.plates.at(Index(plate)).port;
        tareApplied_.at(Index(plate)) = settings.plates.at(Index(plate)).tareApplied;
    }
    return settings;
}

void CalibrationOps::Activate(const std::array<bool, kPlateCount>& ticked) {
    if (!firstActivation_) {
        return;
    }
    // Cleared before the loop: the screen is activated again when a failure message below
    // closes, and that activation must not open the channels a second time.
    firstActivation_ = false;
    if (look_) {
        look_.reset();  // a reopening's look: this one covers its plate too if it is ticked
        lookingFor_ = {};
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        // A tick may be reading this plate: its exchange goes with the channel it was made on.
        if (ticked.at(Index(plate))) {
            reading_.at(Index(plate)).reset();
        }
    }
    LookAside(ticked, true);
}

void CalibrationOps::SetHolderLook(std::string procRoot, std::function<void()> beforeLook) {
    procRoot_ = std::move(procRoot);
    beforeLook_ = std::move(beforeLook);
}

void CalibrationOps::LookAside(const std::array<bool, kPlateCount>& plates, bool tell) {
    std::vector<std::string> paths;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (plates.at(Index(plate))) {
            paths.push_back(SerialChannel::DevicePath(Port(plate)));
        }
    }
    if (paths.empty()) {
        return;
    }
    // The look walks every descriptor on the machine (seconds with a hundred thousand of
    // them): it runs on its own thread, and the reading step polls it.
    lookingFor_ = plates;
    lookTells_ = tell;
    look_ = std::make_unique<PortHolderLook>(std::move(paths), procRoot_, beforeLook_);
    view_.ScheduleReadingStep(kReadingPollMs);
}

void CalibrationOps::TakeLook() {
    if (!look_ || !look_->Done()) {
        return;
    }
    const std::vector<bool> held = look_->Held();
    look_.reset();
    const std::array<bool, kPlateCount> plates = std::exchange(lookingFor_, {});
    std::vector<int> failed;
    std::size_t path = 0;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (!plates.at(Index(plate))) {
            continue;
        }
        const bool free = !held.at(path++);
        // An operation preparing the plate meanwhile has its channel: it is left alone.
        if (preparation_ && preparation_->plate == plate) {
            continue;
        }
        ChannelSlot& slot = state_.links.Slot(plate);
        // A port another program holds gets a channel that is not connected, as a failed
        // opening leaves: the slot keeps it, so it is not retried until the screen opens again.
        bool opened = false;
        if (free) {
            opened = OpenPlateChannel(slot, Port(plate), kReceiveQueue, SerialOs::System(),
                                      HolderLook::DoneBefore)
                         .Ok();
        } else {
            slot.reset();
            slot = std::make_unique<SerialChannel>(Port(plate));
        }
        if (opened && !lookTells_) {
            LineReset(*slot);  // the reopening of a lost channel: reading starts next tick
        }
        if (!opened && lookTells_) {
            failed.push_back(plate);
        }
    }
    // Told after every port is opened: a message runs events, and its ticks find no look.
    for (int plate : failed) {
        Message("Falha ao Conectar a " + PlateText(plate) + ", favor verificar a Comunicação.",
                PlateTitle(plate, "Comunicação"), DialogIcon::Information);
    }
}

bool CalibrationOps::AskReading(int plate) {
    ChannelSlot& slot = state_.links.Slot(plate);
    if (!slot) {
        // Reading starts with a tick after the look and the opening; the slot keeps the
        // channel even when the opening failed, so it is not retried until the screen is
        // opened again. A plate waits for a look already under way to end first.
        if (!look_) {
            std::array<bool, kPlateCount> plates{};
            plates.at(Index(plate)) = true;
            LookAside(plates, false);
        }
        return false;
    }
    if (!LineReset(*slot)) {
        return false;
    }
    auto& exchange = reading_.at(Index(plate));
    exchange.emplace(*slot, kReadSample);
    return exchange->Current() != PendingExchange::State::Failed;
}

void CalibrationOps::ReadingTick(const std::array<bool, kPlateCount>& ticked) {
    TakeLook();
    for (const auto& exchange : reading_) {
        if (exchange) {
            return;  // a silent plate's time-out has not passed yet
        }
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        // A plate whose port is still being looked at shows what it showed.
        if (!ticked.at(Index(plate)) || lookingFor_.at(Index(plate))) {
            continue;
        }
        if (!AskReading(plate)) {
            reading_.at(Index(plate)).reset();
            ShowReading(plate, std::nullopt);
        }
    }
    ContinueReading();
}

void CalibrationOps::ContinueReading() {
    TakeLook();
    bool waiting = look_ != nullptr;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        auto& exchange = reading_.at(Index(plate));
        if (!exchange) {
            continue;
        }
        const PendingExchange::State outcome = exchange->Poll();
        if (outcome == PendingExchange::State::Waiting) {
            waiting = true;
            continue;
        }
        std::optional<RawReading> raw;
        if (outcome == PendingExchange::State::Valid) {
            raw = DecodeReading(exchange->Reply());
        }
        exchange.reset();
        ShowReading(plate, raw);
    }
    if (waiting) {
        view_.ScheduleReadingStep(kReadingPollMs);
    }
}

void CalibrationOps::CancelReading() {
    for (auto& exchange : reading_) {
        exchange.reset();
    }
}

void CalibrationOps::ShowReading(int plate, std::optional<RawReading> raw) {
    const PlateCalibration& v = Values(plate);
    ReadingDisplay display;
    display.failed = !raw;
    display.reading = FormatNumber(raw.value_or(kFailedReading), NumberPattern::Integer,
                                   state_.config.decimalSeparator);
    display.tare = Format3(v.tare);
    display.index = Format3(v.index);
    // The failure value is no reading, and an index of 0 (only an edited store holds one)
    // converts nothing: neither gives a load.
    const double load = raw ? v.Load(*raw) : 0.0;
    display.load = !raw || v.index == 0.0 || !std::isfinite(load) ? kNoLoad : Format3(load);
    view_.ShowReading(plate, display);
}

void CalibrationOps::Close(const std::array<PlateClosingState, kPlateCount>& plates) {
    closing_ = true;
    preparation_.reset();
    look_.reset();
    lookingFor_ = {};
    CancelReading();
    Store([&](StationSettings& settings) { WriteClosingSettings(settings, plates); });
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        CloseChannel(state_.links.Slot(plate));
    }
}

bool CalibrationOps::FrequencyUsable(const std::string& title) {
    // Only an edited store can hold such a frequency: with none no reading would be taken and
    // the average would divide by zero; above the highest rate the run would be unbounded.
    if (state_.config.testFrequency > 0 && state_.config.testFrequency <= kHighestRate) {
        return true;
    }
    Message("A Frequência de Teste de " + std::to_string(state_.config.testFrequency) +
                " Hz é inválida, favor escolher a Frequência novamente.",
            title, DialogIcon::Error);
    return false;
}

void CalibrationOps::PreparePlate(int plate, std::uint8_t mode, std::shared_ptr<void> pause,
                                  std::function<void()> then) {
    PlateBringUp::Options options;
    options.stopFirst = false;
    options.keepOpenChannel = true;
    options.purgeBeforeConfigure = true;
    preparation_ = std::make_unique<Preparation>(Preparation{
        plate, mode,
        std::make_unique<PlateBringUp>(state_.links.Slot(plate), Port(plate), std::move(options)),
        std::move(then), std::move(pause)});
    view_.SchedulePreparationStep(0);
}

void CalibrationOps::ContinuePreparation() {
    if (!preparation_) {
        return;
    }
    Preparation& preparation = *preparation_;
    const int plate = preparation.plate;
    switch (preparation.bringUp->Step()) {
        case PlateBringUp::Event::Working:
        case PlateBringUp::Event::Opened:
            break;
        case PlateBringUp::Event::Identified:
            state_.links.Identified(plate);
            preparation.bringUp->Configure(state_.config.testFrequency, preparation.mode);
            break;
        case PlateBringUp::Event::Configured:
        case PlateBringUp::Event::Streaming: {
            state_.links.Configured(plate);
            // The operation goes on with its plate ready; no other starts until it has ended.
            preparation.bringUp.reset();
            const std::function<void()> then = std::move(preparation.then);
            then();
            preparation_.reset();
            return;
        }
        case PlateBringUp::Event::Failed: {
            const std::string title = PlateTitle(plate, "Calibração");
            const PlateBringUp::Stage stage = preparation.bringUp->FailedStage();
            preparation.bringUp.reset();
            state_.links.Failed(plate, stage);
            switch (stage) {
                case PlateBringUp::Stage::Connect:
                    Message("Falha ao Conectar a " + PlateText(plate) +
                                ", favor verificar a Comunicação.",
                            title, DialogIcon::Information);
                    break;
                case PlateBringUp::Stage::Identify:
                    Message("Falha ao Identificar a " + PlateText(plate) +
                                ", favor verificar a Comunicação.",
                            title, DialogIcon::Error);
                    break;
                case PlateBringUp::Stage::Configure:
                case PlateBringUp::Stage::Start:
                    Message(
                        "Falha ao Configurar a " + PlateText(plate) + ", favor tentar novamente.",
                        title, DialogIcon::Error);
                    break;
            }
            preparation_.reset();
            return;
        }
    }
    view_.SchedulePreparationStep(preparation.bringUp->NextStepMs());
}

std::optional<double> CalibrationOps::AveragedSampling(int plate, const SamplingTexts& texts) {
    const int count = state_.config.testFrequency;
    progress_.SetMaximum(count);
    if (dialogs_.MessageBox(texts.prompt, texts.promptTitle, DialogButtons::OkCancel,
                            DialogIcon::Question) != DialogResult::Ok) {
        Message(texts.cancelled, texts.cancelledTitle, DialogIcon::Warning);
        return std::nullopt;
    }
    ChannelSlot& slot = state_.links.Slot(plate);
    const Clock::time_point giveUp =
        Clock::now() +
        std::chrono::milliseconds(static_cast<long long>(count) * kReadingAllowanceMs);
    std::optional<PendingExchange> reading;
    double sum = 0.0;
    int taken = 0;
    bool failed = false;
    // Readings are taken one after another as fast as the plate answers, in slices short enough
    // for the progress window to stay alive and its Cancelar button to be heard.
    const bool cancelled = progress_.RunCancellable([&] {
        const Clock::time_point sliceEnd =
            std::min(Clock::now() + std::chrono::milliseconds(kSamplingSliceMs), giveUp);
        for (;;) {
            if (!reading) {
                PurgeChannel(slot);
                if (!slot) {
                    failed = true;
                    return false;
                }
                reading.emplace(*slot, kReadSample);
            }
            const PendingExchange::State outcome = reading->Poll(MillisecondsUntil(sliceEnd));
            if (outcome == PendingExchange::State::Waiting) {
                if (Clock::now() >= giveUp) {
                    failed = true;  // too slow for the rate it was configured for
                    return false;
                }
                if (Clock::now() >= sliceEnd) {
                    return true;
                }
                continue;
            }
            const RawReading value = outcome == PendingExchange::State::Valid
                                         ? DecodeReading(reading->Reply())
                                         : kFailedReading;
            reading.reset();
            if (value >= kFailedReading) {
                failed = true;
                return false;
            }
            sum += value;
            ++taken;
            progress_.SetPosition(taken);
            if (taken == count) {
                return false;
            }
            if (Clock::now() >= sliceEnd) {
                if (Clock::now() >= giveUp) {
                    failed = true;
                    return false;
                }
                return true;
            }
        }
    });
    if (cancelled) {
        Message(texts.cancelled, texts.cancelledTitle, DialogIcon::Warning);
        return std::nullopt;
    }
    if (failed || taken < count) {
        Message(texts.failure, texts.failureTitle, DialogIcon::Error);
        return std::nullopt;
    }
    return sum / count;
}

void CalibrationOps::ZeroPlate(int plate) {
    if (preparation_) {
        return;  // one operation at a time
    }
    auto pause = std::make_shared<ReadingPause>(view_, reading_, closing_);
    const std::string title = PlateTitle(plate, "Zerar");
    if (!FrequencyUsable(title)) {
        return;
    }
    PreparePlate(plate, kModeZero, pause, [this, plate, title] {
        const auto average = AveragedSampling(
            plate, {"Deixe a " + PlateText(plate) + " sem peso e clique em OK para Zerar.", title,
                    "Processo de Zerar não foi efetuado corretamente, tentar novamente.", title,
                    "Zerar cancelado!", title});
        if (!average) {
            return;
        }
        PlateCalibration& v = ValuesOf(plate);
        v.zeroOffset = *average;
        Message("Zerar realizado com sucesso!", title, DialogIcon::Information);
        Store([&](StationSettings& settings) { settings.SetZeroOffset(plate, v.zeroOffset); });
    });
}

void CalibrationOps::ToggleTare(int plate) {
    PlateCalibration& v = ValuesOf(plate);
    bool& applied = tareApplied_.at(Index(plate));
    const auto storeTare = [&] {
        Store([&](StationSettings& settings) {
            settings.SetTareApplied(plate, applied);
            settings.SetTare(plate, v.tare);
        });
    };
    if (applied) {
        // Removing the tare needs no plate: it works while the plate is unreachable.
        v.tare = 0.0;
        applied = false;
        view_.SetTareText(plate, Format3(0.0));
        view_.SetTareCaption(plate, TareButtonCaption(applied));
        storeTare();
        return;
    }

    if (preparation_) {
        return;  // one operation at a time
    }
    auto pause = std::make_shared<ReadingPause>(view_, reading_, closing_);
    const std::string title = PlateTitle(plate, "Tara");
    if (v.index == 0.0) {
        // Only an edited store holds such an index; the tare would come out infinite.
        Message("O Índice de Calibração da " + PlateText(plate) +
                    " é zero, favor calibrar a Placa antes de efetuar a Tara.",
                title, DialogIcon::Information);
        return;
    }
    if (!FrequencyUsable(title)) {
        return;
    }
    PreparePlate(plate, kModeCalibrate, pause, [this, plate, title] {
        const auto average = AveragedSampling(
            plate, {"Deixe o peso sobre a " + PlateText(plate) +
                        " e clique em OK para efetuar o Cálculo da Tara.",
                    title, "Cálculo da Tara não efetuado corretamente, tentar novamente.", title,
                    "Cálculo da Tara cancelado!", title});
        if (!average) {
            return;
        }
        PlateCalibration& tared = ValuesOf(plate);
        bool& tareOn = tareApplied_.at(Index(plate));
        // The tare is the load the plate bears now, as read without one.
        tared.tare = PlateCalibration{tared.zeroOffset, tared.index, 0.0}.Load(*average);
        tareOn = true;
        view_.SetTareText(plate, Format3(tared.tare));
        view_.SetTareCaption(plate, TareButtonCaption(tareOn));
        Message("Cálculo da Tara realizado com sucesso!", title, DialogIcon::Information);
        Store([&](StationSettings& settings) {
            settings.SetTareApplied(plate, tareOn);
            settings.SetTare(plate, tared.tare);
        });
    });
}

void CalibrationOps::Calibrate(int plate) {
    if (preparation_) {
        return;  // one operation at a time
    }
    auto pause = std::make_shared<ReadingPause>(view_, reading_, closing_);
    const std::string title = PlateTitle(plate, "Calibração");
    const std::string loadText = view_.LoadText(plate);
    if (loadText.empty()) {
        Message("O valor da Carga deve ser informado.", title, DialogIcon::Information);
        view_.FocusLoadField(plate);
        return;
    }
    // A load of 0 (typed as 0, or a text such as a lone comma that reads as no number) would
    // make the index infinite. It is refused here, before the plate is touched, so a
    // calibration that cannot give a usable index never costs the operator two measurements.
    const double load = ParseNumber(loadText, state_.config.decimalSeparator).value_or(0.0);
    if (load == 0.0) {
        Message("O valor da Carga deve ser um número diferente de zero.", title,
                DialogIcon::Information);
        view_.FocusLoadField(plate);
        return;
    }
    if (!FrequencyUsable(title)) {
        return;
    }
    PreparePlate(plate, kModeCalibrate, pause, [this, plate, title, loadText, load] {
        CalibrateWith(plate, title, loadText, load);
    });
}

void CalibrationOps::CalibrateWith(int plate, const std::string& title, const std::string& loadText,
                                   double load) {
    const std::string failure =
        "Processo de Calibração não foi efetuado corretamente, tentar novamente.";
    const std::string emptyTitle = PlateTitle(plate, "Calibração sem Peso");
    const auto zeroAverage = AveragedSampling(
        plate,
        {"Deixe a " + PlateText(plate) + " sem peso e clique em OK para efetuar a Calibração.",
         emptyTitle, failure, title, "Calibração cancelada!", emptyTitle});
    if (!zeroAverage) {
        return;
    }
    Message("Calibração sem Peso realizada com sucesso!", emptyTitle, DialogIcon::Information);

    const std::string loadedTitle = PlateTitle(plate, "Calibração com Peso");
    const auto loadedAverage = AveragedSampling(
        plate, {"Coloque a Carga de " + loadText + " (" + view_.UnitText(plate) +
                    ") e clique em OK para efetuar a Calibração.",
                loadedTitle, failure, loadedTitle, "Calibração cancelada!", loadedTitle});
    if (!loadedAverage) {
        return;
    }
    Message("Calibração com Peso realizada com sucesso!", loadedTitle, DialogIcon::Information);

    PlateCalibration& v = ValuesOf(plate);
    v.zeroOffset = *zeroAverage;
    double difference = *loadedAverage - v.zeroOffset;
    if (difference == 0.0) {
        difference = 1.0;
    }
    v.index = difference / load;
    Store([&](StationSettings& settings) {
        settings.SetCalibratedLoad(plate, load);
        settings.SetZeroOffset(plate, v.zeroOffset);
        settings.SetLoadedAverage(plate, *loadedAverage);
        settings.SetCalibrationIndex(plate, v.index);
        settings.SetCalibrationFrequency(plate, state_.config.testFrequency);
    });
}

void CalibrationOps::EditIndex(int plate) {
    bool cancelled = false;
    const std::string text = dialogs_.InputBox(
        "Índice de Calibração", "Informe o Índice de Calibração da " + PlateText(plate) + ":",
        view_.IndexText(plate), &cancelled);
    // Cancel means "leave it as it is": storing the field's three-decimal text back would
    // silently round the index, and a zeroing nobody asked for would follow.
    if (cancelled) {
        return;
    }
    // An index that would be stored as 0,0000 (or is too large for a load to be written) is
    // refused here, where the operator can type another: stored, it would refuse every test.
    const double value = ParseNumber(text, state_.config.decimalSeparator).value_or(0.0);
    if (!UsableIndex(value)) {
        ReportError(dialogs_, "O Índice de Calibração informado é inválido!");
        return;
    }
    PlateCalibration& v = ValuesOf(plate);
    v.index = value;
    view_.SetIndexText(plate, Format3(v.index));
    Store([&](StationSettings& settings) { settings.SetCalibrationIndex(plate, v.index); });
    ZeroPlate(plate);
}

void CalibrationOps::Store(const std::function<void(StationSettings&)>& write) {
    FileStatus saved;
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        write(settings);
        saved = settings.Close();
    }
    if (!saved) {
        ReportError(dialogs_, FileErrorText(*saved.error));
    }
}

std::string CalibrationOps::Format3(double value) const {
    return FormatNumber(value, NumberPattern::ThreeDecimals, state_.config.decimalSeparator);
}

void CalibrationOps::Message(const std::string& text, const std::string& title, DialogIcon icon) {
    dialogs_.MessageBox(text, title, DialogButtons::Ok, icon);
}

}  // namespace kelvaro
