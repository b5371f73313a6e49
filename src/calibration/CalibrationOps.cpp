#include "calibration/CalibrationOps.h"

#include <cmath>

#include "device/untFuncoes.h"
#include "settings/NumberText.h"
#include "station/StoredValues.h"

namespace kelvaro {

namespace {

constexpr int kReceiveQueue = 4096;

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
    if (channel.LastError() != 0) {
        return false;
    }
    channel.Purge();
    if (channel.LastError() != 0) {
        return false;
    }
    channel.SetDTR(true);
    return channel.LastError() == 0;
}

// One ReadSample exchange; any reply function is accepted.
std::optional<std::uint32_t> ReadSampleOnce(SerialChannel& channel) {
    DeviceFrame frame;
    if (!SendRequest(channel, kReadSample) ||
        !ReceiveReply(channel, frame, kSampleReplySize, kReplyTimeoutMs, 0)) {
        return std::nullopt;
    }
    return DecodeReading(frame);
}

// Stops the reading timer for the life of an operation that talks to a plate and restarts it
// on every way out, after the operation's last message and store.
class ReadingPause {
  public:
    explicit ReadingPause(CalibrationView& view) : view_(view) { view_.StopReadingTimer(); }
    ~ReadingPause() { view_.StartReadingTimer(); }
    ReadingPause(const ReadingPause&) = delete;
    ReadingPause& operator=(const ReadingPause&) = delete;

  private:
    CalibrationView& view_;
};

}  // namespace

CalibrationOps::CalibrationOps(StationState& state, Dialogs& dialogs, ProgressView& progress,
                               CalibrationView& view)
    : state_(state), dialogs_(dialogs), progress_(progress), view_(view) {}

CalibrationScreenSettings CalibrationOps::Open() {
    SettingsStore store(state_.settingsPath);
    CalibrationScreenSettings settings = ReadCalibrationSettings(store, state_.decimalSeparator);
    store.Close();  // nothing was written, so there is nothing that could fail to save
    state_.FrequenciaTeste = settings.frequency;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        values_.at(Index(plate)) = settings.plates.at(Index(plate)).values;
        ports_.at(Index(plate)) = settings.plates.at(Index(plate)).port;
    }
    return settings;
}

void CalibrationOps::Activate(const std::array<bool, kPlateCount>& ticked) {
    if (!state_.calibrationFirstActivation) {
        return;
    }
    // Cleared before the loop: the screen is activated again when a failure message below
    // closes, and that activation must not open the channels a second time.
    state_.calibrationFirstActivation = false;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (!ticked.at(Index(plate))) {
            continue;
        }
        if (!OpenPlateChannel(state_.Slot(plate), Port(plate), kReceiveQueue)) {
            Message("Falha ao Conectar a " + PlateText(plate) + ", favor verificar a Comunicação.",
                    PlateTitle(plate, "Comunicação"), DialogIcon::Information);
        }
    }
}

bool CalibrationOps::TickRead(int plate, double& raw) {
    ChannelSlot& slot = state_.Slot(plate);
    if (!slot) {
        // Reading starts with the next tick; the slot keeps the channel even when the
        // opening failed, so it is not retried until the screen is opened again.
        CloseChannel(slot);
        if (OpenPlateChannel(slot, Port(plate), kReceiveQueue)) {
            LineReset(*slot);
        }
        return false;
    }
    if (!LineReset(*slot)) {
        return false;
    }
    const auto reading = ReadSampleOnce(*slot);
    if (!reading) {
        return false;
    }
    raw = *reading;
    return true;
}

void CalibrationOps::ReadingTick(const std::array<bool, kPlateCount>& ticked) {
    const char sep = state_.decimalSeparator;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (!ticked.at(Index(plate))) {
            continue;
        }
        double raw = 0.0;
        ReadingDisplay display;
        display.failed = !TickRead(plate, raw);
        if (display.failed) {
            raw = kFailedReading;
        }
        const PlateCalibration& v = Values(plate);
        display.reading = FormatNumber(raw, NumberPattern::Integer, sep);
        display.tare = Format3(v.tare);
        display.index = Format3(v.index);
        // An index of 0 can only come from an edited store; a load cannot be derived from it.
        const double load = ConvertedLoad(raw, v);
        display.load = v.index == 0.0 || !std::isfinite(load) ? "---" : Format3(load);
        view_.ShowReading(plate, display);
    }
}

void CalibrationOps::Close(const std::array<PlateClosingState, kPlateCount>& plates) {
    Store([&](SettingsStore& store) { WriteClosingSettings(store, plates); });
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        CloseChannel(state_.Slot(plate));
    }
}

bool CalibrationOps::FrequencyUsable(const std::string& title) {
    // Only an edited store can hold such a frequency: no reading would be taken and the
    // average would divide by zero, so the measurement is not started at all.
    if (state_.FrequenciaTeste > 0) {
        return true;
    }
    Message("A Frequência de Teste de " + std::to_string(state_.FrequenciaTeste) +
                " Hz é inválida, favor escolher a Frequência novamente.",
            title, DialogIcon::Error);
    return false;
}

bool CalibrationOps::PreparePlate(int plate, std::uint8_t mode) {
    const std::string title = PlateTitle(plate, "Calibração");
    ChannelSlot& slot = state_.Slot(plate);
    bool lineReady = false;
    if (slot) {
        lineReady = LineReset(*slot);
    } else {
        CloseChannel(slot);
        if (!OpenPlateChannel(slot, Port(plate), kReceiveQueue)) {
            Message("Falha ao Conectar a " + PlateText(plate) + ", favor verificar a Comunicação.",
                    title, DialogIcon::Information);
            return false;
        }
        lineReady = LineReset(*slot);
    }
    DeviceFrame frame;
    if (!lineReady || !SendRequest(*slot, kIdentify) ||
        !ReceiveReply(*slot, frame, kIdentifyReplySize, kReplyTimeoutMs, kFnIdentify)) {
        Message("Falha ao Identificar a " + PlateText(plate) + ", favor verificar a Comunicação.",
                title, DialogIcon::Error);
        return false;
    }
    PurgeChannel(slot);
    if (!ConfigurarPlaca(state_, plate, mode)) {
        Message("Falha ao Configurar a " + PlateText(plate) + ", favor tentar novamente.", title,
                DialogIcon::Error);
        return false;
    }
    return true;
}

std::optional<double> CalibrationOps::AveragedSampling(int plate, const SamplingTexts& texts) {
    const int count = state_.FrequenciaTeste;
    double sum = 0.0;
    progress_.SetMaximum(count);
    if (dialogs_.MessageBox(texts.prompt, texts.promptTitle, DialogButtons::OkCancel,
                            DialogIcon::Question) != DialogResult::Ok) {
        Message(texts.cancelled, texts.cancelledTitle, DialogIcon::Warning);
        return std::nullopt;
    }
    progress_.Show();
    ChannelSlot& slot = state_.Slot(plate);
    for (int i = 1; i <= count; ++i) {
        PurgeChannel(slot);
        const auto reading = slot ? ReadSampleOnce(*slot) : std::nullopt;
        const double value = reading ? static_cast<double>(*reading) : kFailedReading;
        if (value >= kFailedReading) {
            progress_.Close();
            Message(texts.failure, texts.failureTitle, DialogIcon::Error);
            return std::nullopt;
        }
        sum += value;
        progress_.SetPosition(i);
    }
    progress_.Close();
    return sum / count;
}

void CalibrationOps::Zerar(int plate) {
    ReadingPause pause(view_);
    const std::string title = PlateTitle(plate, "Zerar");
    if (!FrequencyUsable(title) || !PreparePlate(plate, kModeZero)) {
        return;
    }
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
    Store([&](SettingsStore& store) {
        store.WriteString(kSettingsSection, PlateKey("sp", plate), Format3(v.zeroOffset));
    });
}

void CalibrationOps::Tara(int plate) {
    PlateCalibration& v = ValuesOf(plate);
    const auto storeTare = [&] {
        Store([&](SettingsStore& store) {
            store.WriteString(kSettingsSection, PlateKey("btt", plate), view_.TareCaption(plate));
            store.WriteString(kSettingsSection, PlateKey("t", plate), Format3(v.tare));
        });
    };
    if (view_.TareCaption(plate) != "Tara") {
        // Removing the tare needs no plate: it works while the plate is unreachable.
        v.tare = 0.0;
        view_.SetTareText(plate, Format3(0.0));
        view_.SetTareCaption(plate, "Tara");
        storeTare();
        return;
    }

    ReadingPause pause(view_);
    const std::string title = PlateTitle(plate, "Tara");
    if (v.index == 0.0) {
        // Only an edited store holds such an index; the tare would come out infinite.
        Message("O Índice de Calibração da " + PlateText(plate) +
                    " é zero, favor calibrar a Placa antes de efetuar a Tara.",
                title, DialogIcon::Information);
        return;
    }
    if (!FrequencyUsable(title) || !PreparePlate(plate, kModeCalibrate)) {
        return;
    }
    const auto average = AveragedSampling(
        plate, {"Deixe o peso sobre a " + PlateText(plate) +
                    " e clique em OK para efetuar o Cálculo da Tara.",
                title, "Cálculo da Tara não efetuado corretamente, tentar novamente.", title,
                "Cálculo da Tara cancelado!", title});
    if (!average) {
        return;
    }
    v.tare = (*average - v.zeroOffset) / v.index;
    view_.SetTareText(plate, Format3(v.tare));
    view_.SetTareCaption(plate, "Remover Tara");
    Message("Cálculo da Tara realizado com sucesso!", title, DialogIcon::Information);
    storeTare();
}

void CalibrationOps::Calibrar(int plate) {
    ReadingPause pause(view_);
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
    const double load = ParseNumber(loadText, state_.decimalSeparator).value_or(0.0);
    if (load == 0.0) {
        Message("O valor da Carga deve ser um número diferente de zero.", title,
                DialogIcon::Information);
        view_.FocusLoadField(plate);
        return;
    }
    if (!FrequencyUsable(title) || !PreparePlate(plate, kModeCalibrate)) {
        return;
    }

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
    v.loadedAverage = *loadedAverage;
    double difference = v.loadedAverage - v.zeroOffset;
    if (difference == 0.0) {
        difference = 1.0;
    }
    v.index = difference / load;
    const char sep = state_.decimalSeparator;
    Store([&](SettingsStore& store) {
        store.WriteString(kSettingsSection, PlateKey("Carga", plate), Format3(load));
        store.WriteString(kSettingsSection, PlateKey("sp", plate), Format3(v.zeroOffset));
        store.WriteString(kSettingsSection, PlateKey("ComPesoP", plate), Format3(v.loadedAverage));
        store.WriteString(kSettingsSection, PlateKey("idc", plate),
                          FormatNumber(v.index, NumberPattern::FourDecimals, sep));
        store.WriteInteger(kSettingsSection, PlateKey("FrequenciaP", plate),
                           state_.FrequenciaTeste);
    });
}

void CalibrationOps::EditarIDC(int plate) {
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
    const double value = ParseNumber(text, state_.decimalSeparator).value_or(0.0);
    if (!UsableIndex(value)) {
        ReportError(dialogs_, "O Índice de Calibração informado é inválido!");
        return;
    }
    PlateCalibration& v = ValuesOf(plate);
    v.index = value;
    view_.SetIndexText(plate, Format3(v.index));
    Store([&](SettingsStore& store) {
        store.WriteString(
            kSettingsSection, PlateKey("idc", plate),
            FormatNumber(v.index, NumberPattern::FourDecimals, state_.decimalSeparator));
    });
    Zerar(plate);
}

void CalibrationOps::Store(const std::function<void(SettingsStore&)>& write) {
    std::string error;
    bool saved = false;
    {
        SettingsStore store(state_.settingsPath);
        write(store);
        saved = store.Close(&error);
    }
    if (!saved) {
        ReportError(dialogs_, error.empty() ? "Não foi possível gravar as configurações" : error);
    }
}

std::string CalibrationOps::Format3(double value) const {
    return FormatNumber(value, NumberPattern::ThreeDecimals, state_.decimalSeparator);
}

void CalibrationOps::Message(const std::string& text, const std::string& title, DialogIcon icon) {
    dialogs_.MessageBox(text, title, DialogButtons::Ok, icon);
}

}  // namespace kelvaro
