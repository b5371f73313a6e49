#include "run/TestRun.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/PlateBringUp.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "station/StationSettings.h"

namespace kelvaro {

namespace {

const std::string kStartCaption = " Iniciar";
const std::string kStopCaption = " Parar";
const std::string kNoStatus = " ...";

std::string PlateText(const char* before, int plate, const char* after) {
    return std::string(before) + std::to_string(plate) + after;
}

// A stored text as quoted in a report: a hand-edited value may be hundreds of digits long.
std::string Quoted(const std::string& text) {
    constexpr std::size_t kShown = 40;
    if (text.size() <= kShown) {
        return "'" + text + "'";
    }
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a UTF-8 character
    }
    return "'" + text.substr(0, cut) + "...'";
}

// A plate's next report is waited for this long after its last valid one: several frames at
// the slowest rate, and the burst delay of a USB adapter. A plate quiet for longer no longer
// holds up the others.
constexpr auto kReportWait = std::chrono::milliseconds(kStreamTimeoutMs);
// A plate without a valid report for this long, or that sent this many reports' worth of bytes
// without one, is lost as an unplugged one is.
constexpr auto kSilenceLimit = 2 * kReportWait;
constexpr std::size_t kGarbageLimit = 6 * kSampleReplySize;
// A pass or the turn between two passes this much longer than it can take means the station was
// away (starved of the processor); that time counts as no plate's silence.
constexpr auto kAwayAllowance = std::chrono::milliseconds(50);
// How long the stop after a lost plate waits for the look for a program on its port: a look
// takes a few milliseconds on an ordinary machine. A slower one (a hundred thousand descriptors
// open, or a machine kept busy) leaves the plate named as silent rather than delay the stop.
constexpr auto kHolderAnswerWait = std::chrono::milliseconds(100);

}  // namespace

TestRun::TestRun(StationState& state, Dialogs& dialogs, TestRunView& view, RunArchive& archive)
    : state_(state), dialogs_(dialogs), view_(view), archive_(archive) {}

void TestRun::OnStartClicked() {
    switch (runState_) {
        case RunState::Idle:
            StartRun();
            break;
        case RunState::StartingUp:
            break;  // one start-up at a time
        case RunState::Running:
            Stop(StopReason::Operator);
            break;
    }
}

void TestRun::FailStartUp(const std::string& message) {
    runState_ = RunState::Idle;
    bringUp_.reset();
    view_.SetStatusText(kNoStatus, false);
    view_.EnableButtons(true);
    ReportError(dialogs_, message);
}

void TestRun::StartRun() {
    view_.EnableButtons(false);
    ChartSink& chart = view_.Chart();
    chart.SetLegendVisible(false);
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.ClearSeries(p);
    }
    samples_.Clear();

    {
        // Closed before any plate is touched, so a slow plate never holds the store open.
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.config.plateActive[static_cast<std::size_t>(p - 1)] =
                settings.PlateTicked(p, false);
        }
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.config.platePort[static_cast<std::size_t>(p - 1)] = settings.PlatePort(p);
        }
        state_.config.testFrequency = settings.TestFrequency();
        for (int p = 1; p <= kPlateCount; ++p) {
            state_.config.calibrationFrequency[static_cast<std::size_t>(p - 1)] =
                settings.CalibrationFrequency(p);
            units_[static_cast<std::size_t>(p - 1)] = settings.Unit(p, "un.");
        }
        settings.Close();
    }
    if (!ReadCalibration()) {
        return;
    }
    // The plates are brought on line one after another in timer steps, so the window goes on
    // while a plate answers or times out.
    runState_ = RunState::StartingUp;
    startingStreams_ = false;
    startPlate_ = 0;
    BeginNextPlate();
}

void TestRun::BeginNextPlate() {
    do {
        ++startPlate_;
    } while (startPlate_ <= kPlateCount &&
             !state_.config.plateActive[static_cast<std::size_t>(startPlate_ - 1)]);
    if (startPlate_ > kPlateCount) {
        bringUp_.reset();
        if (startingStreams_) {
            Begin();
        } else {
            AskToStart();
        }
        return;
    }
    const auto i = static_cast<std::size_t>(startPlate_ - 1);
    ChannelSlot& slot = state_.links.Slot(startPlate_);
    bringUp_ =
        std::make_unique<PlateBringUp>(slot, state_.config.platePort[i], PlateBringUp::Options{});
    if (startingStreams_) {
        bringUp_->StartStream();
    } else {
        view_.SetStatusText(PlateText(" Aguarde Conectando a Placa ", startPlate_, " ..."), true);
    }
    view_.ScheduleStartUpStep(0);
}

void TestRun::ContinueStartUp() {
    if (runState_ != RunState::StartingUp || !bringUp_) {
        return;
    }
    const int n = startPlate_;
    const auto i = static_cast<std::size_t>(n - 1);
    const std::string& port = state_.config.platePort[i];
    switch (bringUp_->Step()) {
        case PlateBringUp::Event::Working:
            break;
        case PlateBringUp::Event::Opened:
            view_.SetStatusText(PlateText(" Aguarde Identificando a Placa ", n, " ..."), true);
            break;
        case PlateBringUp::Event::Identified: {
            // The same rule as the communication screen's search: a device that answers but is
            // no plate the station knows must not record a test as this plate.
            const std::uint8_t model = bringUp_->Model();
            if (!ModelCodeAccepted(model)) {
                state_.links.configured[i] = false;
                FailStartUp(PlateText("Falha ao Identificar a Placa ", n, ": ") + port +
                            " (modelo " + std::to_string(model) + " não reconhecido)");
                return;
            }
            state_.links.configured[i] = true;
            view_.SetStatusText(PlateText(" Aguarde Configurando a Placa ", n, " ..."), true);
            const std::int32_t calibratedFrequency = state_.config.calibrationFrequency[i];
            if (calibratedFrequency != state_.config.testFrequency) {
                FailStartUp(
                    "A Frequencia (" + std::to_string(calibratedFrequency) +
                    PlateText(" Hz) utilizada na Calibração da Placa ", n, "") + "\r" +
                    "é diferente da Frequencia (" + std::to_string(state_.config.testFrequency) +
                    ") selecionada para o teste!" + "\r" +
                    PlateText("Calibre novamente a Placa ", n, " com a Frequencia desejada."));
                return;
            }
            state_.links.configured[i] = false;
            bringUp_->Configure(state_.config.testFrequency, kModeTest);
            break;
        }
        case PlateBringUp::Event::Configured:
        case PlateBringUp::Event::Streaming:
            state_.links.configured[i] = true;
            BeginNextPlate();
            return;
        case PlateBringUp::Event::Failed:
            state_.links.configured[i] = false;
            switch (bringUp_->FailedStage()) {
                case PlateBringUp::Stage::Connect:
                    FailStartUp(PlateText("Falha ao Conectar a Placa ", n, ": ") + port);
                    break;
                case PlateBringUp::Stage::Identify:
                    FailStartUp(PlateText("Falha ao Identificar a Placa ", n, ": ") + port);
                    break;
                case PlateBringUp::Stage::Configure:
                    FailStartUp(PlateText("Falha ao Configurar a Placa ", n, ": ") + port);
                    break;
                case PlateBringUp::Stage::Start:
                    // The plates started before this one would otherwise stream into ports
                    // nobody reads until some later open; stop them all and leave the screen
                    // usable.
                    StopPlates();
                    FailStartUp(PlateText("Falha ao Iniciar a Placa ", n, ": ") + port);
                    break;
            }
            return;
    }
    view_.ScheduleStartUpStep(bringUp_->NextStepMs());
}

void TestRun::CancelStartUp() {
    if (runState_ != RunState::StartingUp) {
        return;
    }
    bringUp_.reset();
    runState_ = RunState::Idle;
    StopPlates();
    view_.SetStatusText(kNoStatus, false);
    view_.EnableButtons(true);
}

void TestRun::AskToStart() {
    view_.SetStatusText(kNoStatus, false);
    if (dialogs_.MessageBox("Clique em OK para Inicar o Teste!", "Kelvaro - Iniciar",
                            DialogButtons::OkCancel, DialogIcon::Information) != DialogResult::Ok) {
        runState_ = RunState::Idle;
        Stop(StopReason::Operator);
        return;
    }
    if (runState_ != RunState::StartingUp) {
        return;  // the window was closed while the question showed
    }
    StartPlates();
}

void TestRun::Begin() {
    OpenJournal();
    view_.SetStartButtonCaption(kStopCaption);
    const auto now = Clock::now();
    for (StreamWatch& watch : watch_) {
        watch = StreamWatch{now, 0};
    }
    lost_ = {};
    std::vector<std::string> watched(kPlateCount);
    for (std::size_t i = 0; i < watched.size(); ++i) {
        if (state_.config.plateActive[i]) {
            watched[i] = SerialChannel::DevicePath(state_.config.platePort[i]);
        }
    }
    holderWatch_.Start(std::move(watched));
    lossLook_ = 0;
    lastPassEnd_ = now;
    view_.StartIdlePass();
    runState_ = RunState::Running;
    BeginLiveChart();
}

void TestRun::OpenJournal() {
    JournalDescription description;
    description.start = std::chrono::system_clock::now();
    runStart_ = description.start;
    description.frequency = state_.config.testFrequency;
    for (std::size_t i = 0; i < description.plates.size(); ++i) {
        JournalPlate& plate = description.plates[i];
        plate.active = state_.config.plateActive[i];
        plate.port = state_.config.platePort[i];
        plate.calibration = calibration_[i];
        plate.unit = units_[i];
    }
    const std::string& folder = state_.config.journalFolder;
    if (folder.empty()) {
        return;  // runs without a journal: nothing to write, nothing to tell
    }
    if (JournalFolderRefusal(folder) && archive_.JournalFolderNamedAlready()) {
        return;  // named already; the writer would refuse it again
    }
    JournalLimits limits;
    limits.keepFrom = archive_.KeepJournalsFrom();
    journal_ = std::make_unique<JournalWriter>();
    journal_->Open(folder, description, limits);  // a failure waits for the stop
}

// The journal and the store agree on the most samples a run takes.
static_assert(kMaxJournalRecords == kMaxSamples);

void TestRun::BeginLiveChart() {
    live_ = true;
    view_.LiveChart().BeginLive(state_.config.plateActive, [this] {
        samples_.Convert(calibration_, state_.config.plateActive);
        return samples_.Loads();
    });
}

void TestRun::StartPlates() {
    view_.SetStatusText(" Aguarde Iniciando dispositivos ...", true);
    startingStreams_ = true;
    startPlate_ = 0;
    BeginNextPlate();
}

void TestRun::ReadSamples() {
    if (runState_ != RunState::Running) {
        return;
    }
    if (const auto reason = TakeSamples()) {
        Stop(*reason);
    }
}

std::optional<StopReason> TestRun::TakeSamples() {
    // Every reading starts missing: a plate that delivers no valid report for this sample
    // (silent, lost, or a damaged report) leaves it so, never as a load.
    RawRecord& record = samples_.Append();
    // Painted by the event loop between passes; a forced repaint here would cost the pass.
    view_.SetStatusText(" Amostras: " + std::to_string(samples_.Count()), false);

    // The plates whose report this pass still needs; all of them are waited for together.
    std::array<SerialChannel*, kPlateCount> waiting{};
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        if (state_.config.plateActive[i]) {
            ChannelSlot& slot = state_.links.channels[i];
            state_.links.configured[i] = SlotConnected(slot);
            waiting[i] = state_.links.configured[i] ? slot.get() : nullptr;
        } else {
            record[i] = 0;  // an idle plate's column holds zeros
        }
    }
    const auto passStart = Clock::now();
    CreditTimeAway(lastPassEnd_, passStart, {});
    bool delivered = false;  // some plate moved on in this pass
    for (;;) {
        const auto now = Clock::now();
        bool anyWaiting = false;
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i] == nullptr) {
                continue;
            }
            SerialChannel& channel = *waiting[i];
            DeviceFrame frame;
            // A frame that fails validation is resynchronised on the next start byte, so a
            // lost or extra byte costs this sample only.
            const StreamTakeResult take = TakeStreamedReport(channel, frame, kSampleReplySize);
            switch (take.outcome) {
                case StreamTake::Report:
                    record[i] = DecodeReading(frame);
                    watch_[i] = StreamWatch{now, 0};
                    break;
                case StreamTake::Damaged:
                    watch_[i].garbage += take.discarded;
                    break;
                case StreamTake::Failed:
                    if (take.status.error == LinkError::Disconnected) {
                        // An unplugged adapter leaves the descriptor open but dead; releasing
                        // it makes the loss visible now.
                        channel.Release();
                        state_.links.configured[i] = false;
                    }
                    break;
                case StreamTake::Incomplete:
                    anyWaiting = true;
                    continue;
            }
            waiting[i] = nullptr;
            delivered = true;
        }
        if (!anyWaiting) {
            break;
        }
        // A plate that reported lately is waited for: its next report is on its way. One that
        // has been quiet longer is not, while the others move the run on, so it never slows
        // them; when none moves, the pass waits as long as a report may take, but no longer
        // than the moment a plate would be lost.
        auto until = passStart;
        auto lostAt = Clock::time_point::max();
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i] != nullptr) {
                until = std::max(until, watch_[i].lastReport + kReportWait);
                lostAt = std::min(lostAt, watch_[i].lastReport + kSilenceLimit);
            }
        }
        if (until <= now && !delivered) {
            until = std::min(passStart + kReportWait, lostAt);
        }
        if (until <= now) {
            break;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        SerialChannel::WaitAnyReadable(waiting, static_cast<int>(wait.count()));
    }

    if (journal_) {
        journal_->Append({&record, 1});
    }

    const auto end = Clock::now();
    CreditTimeAway(passStart, end, kReportWait);
    lastPassEnd_ = end;
    bool plateLost = false;
    for (std::size_t i = 0; i < watch_.size(); ++i) {
        if (!state_.config.plateActive[i]) {
            continue;
        }
        if (state_.links.configured[i] &&
            (watch_[i].garbage > kGarbageLimit ||
             (end - watch_[i].lastReport >= kSilenceLimit && !BytesWaiting(i)))) {
            state_.links.configured[i] = false;
        }
        lost_[i] = !state_.links.configured[i];
        plateLost = plateLost || lost_[i];
    }
    if (plateLost) {
        // Plates that went quiet together cross the limit a few milliseconds apart; one that
        // no longer held the run up is as silent as the one that stopped it, and is named too.
        for (std::size_t i = 0; i < watch_.size(); ++i) {
            if (state_.config.plateActive[i] && !lost_[i] &&
                end - watch_[i].lastReport >= kReportWait) {
                state_.links.configured[i] = false;
                lost_[i] = true;
            }
        }
    }
    const bool portTaken = PortTakenByAnotherProgram(plateLost);
    if (plateLost && !portTaken && !holderWatch_.Answered(lossLook_) &&
        end - lossSeen_ < kHolderAnswerWait) {
        plateLost = false;  // the others go on until the look asked for at the loss answers
    }
    const bool escapeHeld = view_.EscapeHeld();  // asked on every pass
    if (portTaken) {
        return StopReason::PortTaken;
    }
    if (plateLost) {
        return StopReason::PlateLost;
    }
    if (escapeHeld) {
        return StopReason::EscapeHeld;
    }
    if (samples_.Full()) {
        return StopReason::StoreFull;
    }
    return std::nullopt;
}

bool TestRun::PortTakenByAnotherProgram(bool plateLost) {
    // A plate lost to a program reading its line is named as such, not as a silent plate: the
    // loss asks the watch for a look at once, and the stop waits for its answer a pass at a time.
    if (plateLost && lossLook_ == 0) {
        lossLook_ = holderWatch_.LookNow();
        lossSeen_ = Clock::now();
    }
    const auto holder = holderWatch_.Poll();
    if (!holder) {
        return false;
    }
    const int plate = static_cast<int>(holder->port) + 1;
    state_.links.configured[holder->port] = false;
    lost_[holder->port] = false;
    holderMessage_ = PlateText("Outro programa abriu a porta da Placa ", plate, " (") +
                     state_.config.platePort[holder->port] + "): " + HolderText(*holder) +
                     ".\rO teste foi parado para que esse programa não tome as leituras da "
                     "placa; as amostras lidas até aqui foram mantidas.";
    return true;
}

void TestRun::CreditTimeAway(Clock::time_point from, Clock::time_point to,
                             Clock::duration expected) {
    // A pass follows the last one at once and waits at most kReportWait: anything longer is time
    // the station was not listening (its process starved of the processor on a busy machine, the
    // event loop held up). Plates simulated on the same machine were starved with it and could
    // not send; a real plate's reports wait in the line. Neither is silence: the plates' clocks
    // move on by that time, so a plate is lost after half a second the station was there to hear.
    const auto away = to - from - expected - kAwayAllowance;
    if (away <= Clock::duration::zero()) {
        return;
    }
    for (StreamWatch& watch : watch_) {
        watch.lastReport = std::min(watch.lastReport + away, to);
    }
}

bool TestRun::BytesWaiting(std::size_t plate) {
    ChannelSlot& slot = state_.links.channels[plate];
    return SlotConnected(slot) && slot->BytesWaiting() > 0;
}

void TestRun::StopPlates() {
    // The close puts DTR low and sends the Stop.
    for (int p = 1; p <= kPlateCount; ++p) {
        if (state_.config.plateActive[static_cast<std::size_t>(p - 1)]) {
            CloseChannel(state_.links.Slot(p));
        }
    }
}

void TestRun::StopForExit() {
    if (runState_ == RunState::StartingUp) {
        CancelStartUp();
        return;
    }
    if (runState_ != RunState::Running) {
        return;
    }
    runState_ = RunState::Idle;
    view_.StopIdlePass();
    view_.SetStartButtonCaption(kStartCaption);
    view_.EnableButtons(true);
    StopPlates();
    if (std::exchange(live_, false)) {
        view_.LiveChart().EndLive();
    }
    journal_.reset();
}

void TestRun::Stop(StopReason reason) {
    view_.EnableButtons(true);
    view_.SetStartButtonCaption(kStartCaption);
    runState_ = RunState::Idle;
    view_.StopIdlePass();
    holderWatch_.Stop();
    StopPlates();
    if (journal_) {
        // Until the answer, a station that dies leaves the run to be offered at the next start.
        journal_->AwaitAnswer();
    }
    if (std::exchange(live_, false)) {
        view_.LiveChart().EndLive();
    }
    DrawChart();
    // After the drawing, so the operator sees what was kept, and before the save question.
    if (reason == StopReason::PortTaken) {
        dialogs_.MessageBox(std::exchange(holderMessage_, {}), "Kelvaro - Teste", DialogButtons::Ok,
                            DialogIcon::Error);
    }
    // Whatever ended the run, every plate the last pass lost is named.
    ReportLostPlates();
    // The run as it can be saved again later, whatever the answer is.
    StoredRun finished;
    finished.heading = {0, state_.config.testFrequency, state_.config.platePort, units_};
    finished.active = state_.config.plateActive;
    finished.loads.assign(samples_.Loads().begin(), samples_.Loads().end());
    finished.start = runStart_;
    if (journal_ && !journal_->Path().empty()) {
        finished.path = journal_->Path();
        finished.fromJournal = true;
    }
    view_.RunFinished(archive_.SaveStoppedRun(std::move(finished), std::move(journal_)));
}

void TestRun::ReportLostPlates() {
    std::string text;
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto i = static_cast<std::size_t>(p - 1);
        if (lost_[i]) {
            text += PlateText("\rA Placa ", p, " parou de responder (porta ") +
                    state_.config.platePort[i] + ").";
        }
    }
    lost_ = {};
    if (!text.empty()) {
        ReportError(dialogs_, "O teste foi interrompido." + text);
    }
}

bool TestRun::ReadCalibration() {
    struct Value {
        StoredNumber (StationSettings::*read)(int plate) const;
        double PlateCalibration::*field;
        bool (*usable)(double);
        // The operator's words for the value, and how to set it again.
        const char* what;
        const char* invalid;
        const char* redo;
    };
    static constexpr std::array<Value, 3> kValues{{
        {&StationSettings::ZeroOffset, &PlateCalibration::zeroOffset, UsableOffset, "O Zero",
         ") é inválido!", "Zere novamente a Placa "},
        {&StationSettings::CalibrationIndex, &PlateCalibration::index, UsableIndex,
         "O Índice de Calibração", ") é inválido!", "Calibre novamente a Placa "},
        {&StationSettings::Tare, &PlateCalibration::tare, UsableOffset, "A Tara", ") é inválida!",
         "Refaça a Tara da Placa "},
    }};
    PlateCalibrations read{};
    std::optional<std::string> refusal;
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        for (int p = 1; p <= kPlateCount && !refusal; ++p) {
            const auto i = static_cast<std::size_t>(p - 1);
            if (!state_.config.plateActive[i]) {
                continue;  // an idle plate's readings are never converted
            }
            for (const Value& v : kValues) {
                const StoredNumber stored = (settings.*v.read)(p);
                if (!stored.value || !v.usable(*stored.value)) {
                    refusal = std::string(v.what) + PlateText(" da Placa ", p, " (") + stored.key +
                              " = " + Quoted(stored.text) + v.invalid + "\r" + v.redo +
                              std::to_string(p) + ".";
                    break;
                }
                read[i].*v.field = *stored.value;
            }
        }
        settings.Close();
    }
    if (refusal) {
        FailStartUp(*refusal);
        return false;
    }
    calibration_ = read;
    return true;
}

void TestRun::DrawChart() {
    samples_.Convert(calibration_, state_.config.plateActive);
    DrawRunLoads(view_.Chart(), samples_.Loads(), state_.config.plateActive);
}

}  // namespace kelvaro
