#include "test/TestRun.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "settings/NumberText.h"
#include "settings/SettingsStore.h"
#include "test/TestExport.h"

namespace kelvaro {

namespace {

const std::string kIniciar = " Iniciar";
const std::string kParar = " Parar";
const std::string kNoStatus = " ...";

std::string PlateText(const char* before, int plate, const char* after) {
    return std::string(before) + std::to_string(plate) + after;
}

// Zero offset, calibration index and tare of one plate.
struct Calibration {
    double sp = 0;
    double idc = 1;
    double t = 0;
};

}  // namespace

TestRun::TestRun(StationState& state, Dialogs& dialogs, ProgressView& progress, TestRunView& view,
                 std::string exportFolder)
    : state_(state),
      dialogs_(dialogs),
      progress_(progress),
      view_(view),
      exportFolder_(std::move(exportFolder)) {}

void TestRun::btIniciarClick() {
    if (view_.StartButtonCaption() == kIniciar) {
        Iniciar();
        return;
    }
    HabilitarBotoes(true);
    view_.SetStartButtonCaption(kIniciar);
    PararTeste();
}

void TestRun::HabilitarBotoes(bool enabled) {
    view_.HabilitarBotoes(enabled);
}

void TestRun::FalhaNaPartida(const std::string& message) {
    view_.SetStatusText(kNoStatus, false);
    HabilitarBotoes(true);
    ReportError(dialogs_, message);
}

void TestRun::Iniciar() {
    HabilitarBotoes(false);
    ChartSink& chart = view_.Chart();
    chart.SetLegendVisible(false);
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.ClearSeries(p);
    }
    state_.NumAmostras = 0;

    {
        // Closed before any plate is touched, so a slow plate never holds the store open.
        SettingsStore store(state_.settingsPath);
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.PlacaAtiva[static_cast<std::size_t>(p - 1)] =
                store.ReadBool(kSettingsSection, "check" + std::to_string(p), false);
        }
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.PortaPlaca[static_cast<std::size_t>(p - 1)] =
                store.ReadString(kSettingsSection, "Porta" + std::to_string(p), "");
        }
        state_.FrequenciaTeste = store.ReadInteger(kSettingsSection, "Frequencia", 50);
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.FrequenciaCalibracao[static_cast<std::size_t>(p - 1)] =
                store.ReadInteger(kSettingsSection, "FrequenciaP" + std::to_string(p), 50);
        }
        store.Close();
    }

    for (int n = 1; n <= kPlateCount; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        if (!state_.PlacaAtiva[i]) {
            continue;
        }
        const std::string& porta = state_.PortaPlaca[i];
        ChannelSlot& slot = state_.Slot(n);

        view_.SetStatusText(PlateText(" Aguarde Conectando a Placa ", n, " ..."), true);
        if (!OpenPlateChannel(slot, porta, 4096)) {
            FalhaNaPartida(PlateText("Falha ao Conectar a Placa ", n, ": ") + porta);
            return;
        }

        view_.SetStatusText(PlateText(" Aguarde Identificando a Placa ", n, " ..."), true);
        PurgeChannel(slot);
        slot->SetDTR(true);
        DeviceFrame reply;
        state_.PlacaOk[i] =
            SendRequest(*slot, kIdentify) &&
            ReceiveReply(*slot, reply, kIdentifyReplySize, kReplyTimeoutMs, kFnIdentify);
        if (!state_.PlacaOk[i]) {
            FalhaNaPartida(PlateText("Falha ao Identificar a Placa ", n, ": ") + porta);
            return;
        }

        view_.SetStatusText(PlateText(" Aguarde Configurando a Placa ", n, " ..."), true);
        const std::int32_t calibrada = state_.FrequenciaCalibracao[i];
        if (calibrada != state_.FrequenciaTeste) {
            FalhaNaPartida(
                "A Frequencia (" + std::to_string(calibrada) +
                PlateText(" Hz) utilizada na Calibração da Placa ", n, "") + "\r" +
                "é diferente da Frequencia (" + std::to_string(state_.FrequenciaTeste) +
                ") selecionada para o teste!" + "\r" +
                PlateText("Calibre novamente a Placa ", n, " com a Frequencia desejada."));
            return;
        }
        if (!ConfigurarPlaca(state_, n, kModeTest)) {
            FalhaNaPartida(PlateText("Falha ao Configurar a Placa ", n, ": ") + porta);
            return;
        }
    }

    view_.SetStatusText(kNoStatus, false);
    if (dialogs_.MessageBox("Clique em OK para Inicar o Teste!", "Kelvaro - Iniciar",
                            DialogButtons::OkCancel, DialogIcon::Information) != DialogResult::Ok) {
        HabilitarBotoes(true);
        PararTeste();
        return;
    }
    if (!IniciarDispositivos()) {
        return;
    }
    view_.SetStartButtonCaption(kParar);
    LimparAmostras();
    view_.StartIdlePass();
    testeRodando_ = true;
}

bool TestRun::IniciarDispositivos() {
    view_.SetStatusText(" Aguarde Iniciando dispositivos ...", true);
    for (int n = 1; n <= kPlateCount; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        if (!state_.PlacaAtiva[i]) {
            continue;
        }
        ChannelSlot& slot = state_.Slot(n);
        bool ok = false;
        if (slot) {
            PurgeChannel(slot);
            slot->SetDTR(true);
            DeviceFrame reply;
            ok = SendRequest(*slot, kStartStream) &&
                 ReceiveReply(*slot, reply, kAckReplySize, kReplyTimeoutMs, kFnStartStream);
        }
        state_.PlacaOk[i] = ok;
        if (!ok) {
            // The plates started before this one would otherwise stream into ports nobody
            // reads until some later open; stop them all and leave the screen usable.
            PararPlacas();
            FalhaNaPartida(PlateText("Falha ao Iniciar a Placa ", n, ": ") + state_.PortaPlaca[i]);
            return false;
        }
    }
    return true;
}

void TestRun::LimparAmostras() {
    std::fill(state_.Amostras->begin(), state_.Amostras->end(), SampleRecord{});
    state_.NumAmostras = 0;
}

void TestRun::LerAmostras() {
    if (!testeRodando_) {
        return;
    }
    ++state_.NumAmostras;
    // Painted by the event loop between passes; a forced repaint here would cost the pass.
    view_.SetStatusText(" Amostras: " + std::to_string(state_.NumAmostras), false);
    SampleRecord& record = (*state_.Amostras)[static_cast<std::size_t>(state_.NumAmostras - 1)];

    bool plateLost = false;
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto i = static_cast<std::size_t>(p - 1);
        if (!state_.PlacaAtiva[i]) {
            continue;
        }
        ChannelSlot& slot = state_.Slot(p);
        bool ok = SlotConnected(slot);
        if (ok) {
            DeviceFrame frame;
            // A frame that fails validation is resynchronised on the next start byte, so a
            // lost or extra byte costs this sample only.
            if (ReceiveStreamedReply(*slot, frame, kSampleReplySize, kStreamTimeoutMs)) {
                record[i] = static_cast<double>(DecodeReading(frame));
            } else if (slot->LastError() == SerialChannel::kErrorDisconnected) {
                // An unplugged adapter leaves the descriptor open but dead; releasing it makes
                // the loss visible now instead of waiting 250 ms on every later pass.
                slot->Release();
                ok = false;
            }
        }
        state_.PlacaOk[i] = ok;
        plateLost = plateLost || !ok;
    }

    if (view_.EscapeHeld() || state_.NumAmostras >= kMaxSamples || plateLost) {
        btIniciarClick();
    }
}

void TestRun::PararPlacas() {
    for (int p = 1; p <= kPlateCount; ++p) {
        if (!state_.PlacaAtiva[static_cast<std::size_t>(p - 1)]) {
            continue;
        }
        ChannelSlot& slot = state_.Slot(p);
        if (slot) {
            slot->SetDTR(false);
            SendRequest(*slot, kStop);
        }
        CloseChannel(slot);
    }
}

bool TestRun::PararTeste() {
    testeRodando_ = false;
    view_.StopIdlePass();
    PararPlacas();
    if (DesenharGrafico()) {
        ExportarTeste(state_, dialogs_, progress_, exportFolder_);
    }
    return true;
}

bool TestRun::DesenharGrafico() {
    std::array<Calibration, kPlateCount> calibration;
    {
        SettingsStore store(state_.settingsPath);
        std::optional<std::string> invalid;
        for (int p = 1; p <= kPlateCount && !invalid; ++p) {
            Calibration& c = calibration[static_cast<std::size_t>(p - 1)];
            const std::array<std::pair<const char*, double*>, 3> keys{
                {{"sp", &c.sp}, {"idc", &c.idc}, {"t", &c.t}}};
            for (const auto& [name, target] : keys) {
                const std::string text = store.ReadString(
                    kSettingsSection, name + std::to_string(p), name[0] == 'i' ? "1" : "0");
                const auto value = ParseNumber(text, state_.decimalSeparator);
                if (!value) {
                    invalid = text;
                    break;
                }
                *target = *value;
            }
        }
        store.Close();
        if (invalid) {
            ReportError(dialogs_, "'" + *invalid + "' não é um valor numérico válido");
            return false;
        }
    }

    const int count = std::clamp(state_.NumAmostras, 0, kMaxSamples);
    // Checked before anything is converted, so a plate with no calibration index leaves the
    // raw readings in the store instead of a half-converted table.
    if (count > 0) {
        for (std::size_t i = 0; i < calibration.size(); ++i) {
            if (state_.PlacaAtiva[i] && calibration[i].idc == 0) {
                ReportError(dialogs_, "Divisão por zero");
                return false;
            }
        }
    }

    ChartSink& chart = view_.Chart();
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.ClearSeries(p);
    }
    std::array<std::vector<ChartPoint>, kPlateCount> points;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (state_.PlacaAtiva[i]) {
            points[i].reserve(static_cast<std::size_t>(count));
        }
    }
    double maximum = 0;
    double minimum = 0;
    for (int s = 1; s <= count; ++s) {
        SampleRecord& record = (*state_.Amostras)[static_cast<std::size_t>(s - 1)];
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (state_.PlacaAtiva[i]) {
                const Calibration& c = calibration[i];
                const double v = ((record[i] - c.sp) / c.idc) - c.t;
                record[i] = v;
                points[i].push_back({static_cast<double>(s), v});
            }
            if (record[i] > maximum) {
                maximum = record[i];
            } else if (record[i] < minimum) {
                minimum = record[i];
            }
        }
    }
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto i = static_cast<std::size_t>(p - 1);
        if (state_.PlacaAtiva[i]) {
            chart.SetSeriesPoints(p, std::move(points[i]));
        }
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(maximum);
    chart.SetLeftAxisMinimum(minimum);
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.SetSeriesTitle(p, PlateText("Placa ", p, ": "));
    }
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.SetSeriesInLegend(p, state_.PlacaAtiva[static_cast<std::size_t>(p - 1)]);
    }
    return true;
}

}  // namespace kelvaro
