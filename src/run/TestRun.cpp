#include "run/TestRun.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "run/RunWords.h"
#include "station/StationSettings.h"

namespace kelvaro {

namespace {

const std::string kNoStatus = " ...";

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

}  // namespace

TestRun::TestRun(StationState& state, Dialogs& dialogs, TestRunView& view, RunArchive& archive)
    : state_(state),
      dialogs_(dialogs),
      view_(view),
      archive_(archive),
      startUp_(state, view),
      acquisition_(state.links, state.config) {}

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
    startUp_.Cancel();
    view_.SetStatusText(kNoStatus, false);
    view_.EnableButtons(true);
    ReportError(dialogs_, message);
}

void TestRun::StartRun() {
    // Read before the form is disabled with the buttons, as the operator left it.
    const RunMetadata said = view_.Metadata();
    // Cut as the journal keeps them, so the run reads the same from either.
    metadata_ = RunMetadata{CutToCodePoints(said.evaluated, kEvaluatedMaxChars),
                            CutToCodePoints(said.protocol, kProtocolMaxChars),
                            CutToCodePoints(said.notes, kNotesMaxChars)};
    runId_ = NewRunId();
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
    StartUpMoved(startUp_.Begin(false));
}

void TestRun::ContinueStartUp() {
    if (runState_ == RunState::StartingUp) {
        StartUpMoved(startUp_.Step());
    }
}

void TestRun::StartUpMoved(RunStartUp::Outcome outcome) {
    switch (outcome) {
        case RunStartUp::Outcome::Working:
            break;
        case RunStartUp::Outcome::Done:
            if (startUp_.Streams()) {
                Begin();
            } else {
                AskToStart();
            }
            break;
        case RunStartUp::Outcome::Failed:
            FailStartUp(StartUpFailureText(startUp_.Failure(), state_.config));
            break;
    }
}

void TestRun::CancelStartUp() {
    if (runState_ != RunState::StartingUp) {
        return;
    }
    startUp_.Cancel();
    runState_ = RunState::Idle;
    StopActivePlates(state_);
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
    view_.SetStatusText(" Aguarde Iniciando dispositivos ...", true);
    StartUpMoved(startUp_.Begin(true));
}

void TestRun::Begin() {
    OpenJournal();
    // Every row from now on is converted as it is taken, so the loads are always whole.
    samples_.Convert(calibration_, state_.config.plateActive);
    view_.ShowRunState(RunState::Running);
    acquisition_.Begin();
    view_.StartIdlePass();
    runState_ = RunState::Running;
    BeginLiveChart();
}

void TestRun::OpenJournal() {
    JournalDescription description;
    description.start = std::chrono::system_clock::now();
    runStart_ = description.start;
    description.frequency = state_.config.testFrequency;
    description.runId = runId_;
    description.metadata = metadata_;
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

void TestRun::BeginLiveChart() {
    live_ = true;
    view_.LiveChart().BeginLive(state_.config.plateActive, [this] { return samples_.Loads(); });
}

void TestRun::ReadSamples() {
    if (runState_ != RunState::Running) {
        return;
    }
    // Painted by the event loop between passes; a forced repaint here would cost the pass.
    view_.SetStatusText(" Amostras: " + std::to_string(samples_.Count() + 1), false);
    const PassResult& pass = acquisition_.Poll();
    Deliver(pass);
    if (pass.holder) {
        holderMessage_ = PortTakenText(*pass.holder, state_.config);
    }
    const bool escapeHeld = view_.EscapeHeld();  // asked on every pass
    if (pass.stop) {
        Stop(*pass.stop);
    } else if (escapeHeld) {
        Stop(StopReason::EscapeHeld);
    } else if (samples_.Full()) {
        Stop(StopReason::StoreFull);
    }
}

void TestRun::Deliver(const PassResult& pass) {
    samples_.Append(pass.readings);
    if (journal_) {
        journal_->Append({&pass.readings, 1});
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
    view_.ShowRunState(RunState::Idle);
    view_.EnableButtons(true);
    StopActivePlates(state_);
    if (std::exchange(live_, false)) {
        view_.LiveChart().EndLive();
    }
    journal_.reset();
}

void TestRun::Stop(StopReason reason) {
    view_.EnableButtons(true);
    view_.ShowRunState(RunState::Idle);
    runState_ = RunState::Idle;
    view_.StopIdlePass();
    acquisition_.End();
    StopActivePlates(state_);
    if (journal_) {
        // Until the answer, a station that dies leaves the run to be offered at the next start.
        journal_->AwaitAnswer();
    }
    if (std::exchange(live_, false)) {
        view_.LiveChart().EndLive();
    }
    DrawChart();
    // The run as it can be saved again later, whatever the answer is.
    StoredRun finished;
    finished.heading = {0, state_.config.testFrequency, state_.config.platePort, units_};
    finished.active = state_.config.plateActive;
    finished.loads.assign(samples_.Loads().begin(), samples_.Loads().end());
    finished.start = runStart_;
    finished.runId = runId_;
    finished.metadata = metadata_;
    if (journal_ && !journal_->Path().empty()) {
        finished.path = journal_->Path();
        finished.fromJournal = true;
    }
    view_.RunDrawn(finished);
    // After the drawing, so the operator sees what was kept, and before the save question.
    if (reason == StopReason::PortTaken) {
        dialogs_.MessageBox(std::exchange(holderMessage_, {}), "Kelvaro - Teste", DialogButtons::Ok,
                            DialogIcon::Error);
    }
    // Whatever ended the run, every plate the last pass lost is named.
    ReportLostPlates();
    StoredRun kept = archive_.SaveStoppedRun(std::move(finished), std::move(journal_));
    if (kept.heading.testNumber > 0) {
        view_.RunSaved(kept);
    }
    view_.RunFinished(std::move(kept));
}

void TestRun::ReportLostPlates() {
    const std::string text = LostPlatesText(state_.links, state_.config);
    state_.links.Told();
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
