#include "archive/RunArchive.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <limits>
#include <span>
#include <system_error>

#include "archive/TestFileWriter.h"
#include "station/FileErrorText.h"
#include "station/StationSettings.h"

namespace kelvaro {

namespace {

// A whole number as Teste holds it: optional sign and decimal digits, in 64-bit range, so a
// count that has gone past 2147483647 still reads.
std::optional<std::int64_t> ParseTestNumber(std::string_view text) {
    std::int64_t value = 0;
    const char* first = text.data();
    if (!text.empty() && text.front() == '+') {
        ++first;
    }
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The heading of a run never saved: the next test number, counted in the settings, and the
// units `units` gives, or the settings' when none. Gives false after telling the operator why
// no number could be taken.
bool TakeNextTestNumber(StationState& state, Dialogs& dialogs, TestFileHeading& heading,
                        const std::array<std::string, kPlateCount>* units) {
    StationSettings settings(state.config.settingsPath, state.config.decimalSeparator);
    const std::string text = settings.LastTestNumberText();
    const auto last = ParseTestNumber(text);
    if (!last) {
        settings.Close();
        ReportError(dialogs, "'" + text + "' não é um valor inteiro válido");
        return false;
    }
    // After the largest number the store can read back the count starts again at 1: the
    // number written must always be one the next export can read.
    const std::int64_t previous = std::max(*last, state.unstoredTestNumber);
    heading.testNumber = previous == std::numeric_limits<std::int64_t>::max() ? 1 : previous + 1;
    settings.SetLastTestNumber(heading.testNumber);
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto i = static_cast<std::size_t>(p - 1);
        heading.units[i] = units != nullptr ? (*units)[i] : settings.Unit(p, "un.");
    }
    // A store that cannot be saved must not cost the operator the test: the export goes
    // on. Later exports of this run count on from the number, but after a restart it may
    // be proposed again, which the operator is told.
    if (const FileStatus saved = settings.Close(); saved) {
        state.unstoredTestNumber = 0;
        state.unstoredTestNumberTold = false;
    } else {
        state.unstoredTestNumber = heading.testNumber;
        if (!std::exchange(state.unstoredTestNumberTold, true)) {
            dialogs.MessageBox(FileErrorText(*saved.error) + ".\rO teste " +
                                   std::to_string(heading.testNumber) +
                                   " será salvo, mas seu número não ficou guardado: depois "
                                   "que o programa for reaberto, outro teste pode receber o "
                                   "mesmo número.",
                               "Kelvaro - Salvar", DialogButtons::Ok, DialogIcon::Warning);
        }
    }
    return true;
}

// The save dialog, the file and the desktop's opening of it. Gives the test's number, or 0, and
// the file it was written to in `savedPath`.
std::int64_t SaveTest(const TestFileHeading& heading, std::span<const LoadRecord> loads,
                      char decimalSeparator, Dialogs& dialogs, ProgressView& progress,
                      const std::string& exportFolder, std::string& savedPath) {
    SaveFileRequest request;
    request.fileName = "Kelvaro_" + std::to_string(heading.testNumber);
    request.defaultExtension = ".csv";
    request.filter = "Arquivos do Microsoft Excel (*.csv)|*.csv";
    request.initialFolder = exportFolder;
    const auto path = dialogs.SaveFile(request);
    if (!path) {
        return 0;
    }

    if (const FileStatus written = WriteTestFile(*path, heading, loads, decimalSeparator, progress);
        !written) {
        ReportError(dialogs, FileErrorText(*written.error));
        return 0;
    }
    savedPath = *path;
    dialogs.MessageBox("O exportação para o Excel foi concluída com sucesso", "Kelvaro",
                       DialogButtons::Ok, DialogIcon::Information);
    std::error_code ec;
    if (std::filesystem::exists(*path, ec)) {
        dialogs.OpenWithAssociatedApplication(*path);  // a desktop that cannot open it is no error
    }
    return heading.testNumber;
}

bool AskToSave(Dialogs& dialogs) {
    return dialogs.MessageBox("Deseja salvar o teste?", "Kelvaro - Salvar", DialogButtons::YesNo,
                              DialogIcon::Question) == DialogResult::Yes;
}

enum class SaveQuestion { Ask, DontAsk };

// Asks whether the test's loads are to be saved, takes the next test number from the settings,
// lets the operator choose the file, writes it and hands it to the desktop to be opened. A
// number the settings cannot keep is told once (until a save succeeds) and counted on from in
// this run. Gives the number of the saved test, or 0 when nothing was saved.
std::int64_t ExportTestRun(StationState& state, std::span<const LoadRecord> loads, Dialogs& dialogs,
                           ProgressView& progress, const std::string& exportFolder,
                           std::string& savedPath) {
    if (!AskToSave(dialogs)) {
        return 0;
    }
    TestFileHeading heading;
    if (!TakeNextTestNumber(state, dialogs, heading, nullptr)) {
        return 0;
    }
    heading.frequency = state.config.testFrequency;
    heading.ports = state.config.platePort;
    return SaveTest(heading, loads, state.config.decimalSeparator, dialogs, progress, exportFolder,
                    savedPath);
}

// The same for a run read back: asked "Deseja salvar o teste?" first or not, then saved with its
// own heading and decimal separator, so the file has the bytes its first export had or would
// have had. A run never saved takes the next test number, with its own units. Gives the number
// of the saved test, or 0 when nothing was saved.
std::int64_t ExportStoredRun(StationState& state, const StoredRun& run, Dialogs& dialogs,
                             ProgressView& progress, const std::string& exportFolder,
                             SaveQuestion question, std::string& savedPath) {
    if (question == SaveQuestion::Ask && !AskToSave(dialogs)) {
        return 0;
    }
    TestFileHeading heading = run.heading;
    if (heading.testNumber <= 0 &&
        !TakeNextTestNumber(state, dialogs, heading, &run.heading.units)) {
        return 0;
    }
    return SaveTest(heading, run.loads,
                    run.decimalSeparator.value_or(state.config.decimalSeparator), dialogs, progress,
                    exportFolder, savedPath);
}

}  // namespace

RunArchive::RunArchive(StationState& state, Dialogs& dialogs, ProgressView& progress,
                       std::string exportFolder)
    : state_(state),
      dialogs_(dialogs),
      progress_(progress),
      exportFolder_(std::move(exportFolder)) {}

StoredRun RunArchive::SaveStoppedRun(StoredRun run, std::unique_ptr<JournalWriter> journal) {
    const std::int64_t testNumber =
        ExportTestRun(state_, run.loads, dialogs_, progress_, exportFolder_, run.savedFile);
    RecordTestNumber(run, testNumber, std::move(journal));
    return run;
}

bool RunArchive::SaveAgain(StoredRun& run) {
    const std::int64_t testNumber = ExportStoredRun(state_, run, dialogs_, progress_, exportFolder_,
                                                    SaveQuestion::DontAsk, run.savedFile);
    if (testNumber <= 0 || run.heading.testNumber > 0) {
        return false;
    }
    // Saved for the first time: later saves keep the number, and the recent list shows it.
    RecordTestNumber(run, testNumber, nullptr);
    return true;
}

void RunArchive::RecordTestNumber(StoredRun& run, std::int64_t testNumber,
                                  std::unique_ptr<JournalWriter> open) {
    run.heading.testNumber = testNumber;
    if (open) {
        open->Close(std::max<std::int64_t>(testNumber, 0));
        if (const auto error = open->TakeError()) {
            ReportError(dialogs_, FileErrorText(*error));
        }
        return;
    }
    if (run.fromJournal) {
        if (const FileStatus kept = SetJournalTestNumber(run.path, testNumber); !kept) {
            ReportError(dialogs_, FileErrorText(*kept.error));
        }
    }
}

std::optional<StoredRun> RunArchive::Open(const std::string& path, ArchiveView& view) {
    StoredRun run;
    FileStatus read;
    view.RunAside([&] { read = ReadStoredRun(path, run); });
    if (!read) {
        ReportError(dialogs_, FileErrorText(*read.error));
        return std::nullopt;
    }
    return run;
}

std::uint64_t RunArchive::KeepJournalsFrom() {
    if (!keepJournalsFrom_) {
        keepJournalsFrom_ = NextJournalSequence(state_.config.journalFolder);
    }
    return *keepJournalsFrom_;
}

std::optional<StoredRun> RunArchive::OfferRecovery(ArchiveView& view) {
    const std::string& folder = state_.config.journalFolder;
    if (const auto refusal = JournalFolderRefusal(folder)) {
        if (!std::exchange(journalFolderTold_, true)) {
            ReportError(dialogs_, FileErrorText(*refusal));
        }
        return std::nullopt;
    }
    // Before any run of this station takes a sequence.
    KeepJournalsFrom();
    std::optional<StoredRun> shown;
    for (const JournalSummary& unclosed : FindUnclosedJournals(folder)) {
        if (auto run = RecoverJournal(unclosed, view)) {
            shown = std::move(run);
        }
    }
    return shown;
}

std::optional<StoredRun> RunArchive::RecoverJournal(const JournalSummary& unclosed,
                                                    ArchiveView& view) {
    StoredRun run;
    if (const FileStatus read = ReadJournalRun(unclosed.path, run); !read) {
        ReportError(dialogs_, FileErrorText(*read.error));
        return std::nullopt;
    }
    const std::string started = "O teste iniciado em " + LocalTimeText(unclosed.description.start);
    const bool recover =
        dialogs_.MessageBox(
            (unclosed.description.state == JournalState::AwaitingSave
                 ? started + " não foi salvo: o programa parou enquanto perguntava se devia "
                             "salvá-lo.\r"
                 : started + " não foi encerrado: o programa parou durante o teste.\r") +
                "O diário guardou " + std::to_string(run.loads.size()) +
                " amostras. Deseja recuperá-lo?",
            "Kelvaro - Recuperar", DialogButtons::YesNo, DialogIcon::Question) == DialogResult::Yes;
    // Closed either way, so it is offered once.
    if (const FileStatus closed = CloseJournal(unclosed.path); !closed) {
        ReportError(dialogs_, FileErrorText(*closed.error));
        return std::nullopt;
    }
    if (!recover) {
        return std::nullopt;
    }
    view.SetStatusText(" Amostras: " + std::to_string(run.loads.size()), false);
    DrawRunLoads(view.Chart(), run.loads, run.active);
    view.RunDrawn(run);
    const std::int64_t testNumber = ExportStoredRun(state_, run, dialogs_, progress_, exportFolder_,
                                                    SaveQuestion::Ask, run.savedFile);
    if (testNumber > 0) {
        RecordTestNumber(run, testNumber, nullptr);
    }
    return run;
}
}  // namespace kelvaro
