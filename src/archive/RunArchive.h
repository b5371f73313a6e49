// The archive of runs as the operator meets it: the save of a run that has just stopped, the
// recovery at start of the runs a dead station left in their journals, the opening of an earlier
// run and its saving again. Every save asks (or not), numbers and writes the test file; the
// number it gives a run is recorded in the run's journal here and nowhere else. No widgets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "archive/StoredRun.h"
#include "journal/Journal.h"
#include "station/ChartSink.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

// What the archive needs of the window that shows a run.
class ArchiveView {
  public:
    virtual ~ArchiveView() = default;
    // sampleCountLabel; `repaintNow` draws it at once.
    virtual void SetStatusText(const std::string& text, bool repaintNow) = 0;
    virtual ChartSink& Chart() = 0;
    // A recovered run, drawn on the chart, before its save question: what the window shows of it
    // besides the lines.
    virtual void RunDrawn(const StoredRun& /*run*/) {}
    // Runs `work` on a thread of its own, the window serving its events meanwhile with its
    // buttons off, so that no file and no disk stalls it; returns when `work` is done.
    virtual void RunAside(const std::function<void()>& work) = 0;
};

class RunArchive {
  public:
    // The save dialog opens in `exportFolder`.
    RunArchive(StationState& state, Dialogs& dialogs, ProgressView& progress,
               std::string exportFolder);

    // A run that has just stopped: asks whether its loads are to be saved, takes the next test
    // number from the settings, lets the operator choose the file, writes it and hands it to the
    // desktop to be opened. A number the settings cannot keep is told once (until a save
    // succeeds) and counted on from in this run. `journal`, when the run has one, is closed with
    // the number (0: not saved) and its failure, if any, is told once. Gives the run back with
    // that number, so it can be saved again.
    StoredRun SaveStoppedRun(StoredRun run, std::unique_ptr<JournalWriter> journal);

    // At the station's start: every journal whose run never ended (a crash, a kill, a power
    // cut) or whose save question was never answered is named with its sample count and offered
    // for recovery, newest first, once; a recovered run is drawn and offered for saving as if
    // it had just stopped. Gives back the last run recovered (with the number it was saved as,
    // if it was). A journal folder others may write in is named instead, once.
    std::optional<StoredRun> OfferRecovery(ArchiveView& view);

    // A run read back from a journal or a test file the station saved (ReadStoredRun), off the
    // window's thread; a file that cannot be read is told and gives nothing.
    std::optional<StoredRun> Open(const std::string& path, ArchiveView& view);

    // Saves a run read back (opened or recovered) or stopped earlier again, without the save
    // question, with its own heading and decimal separator, so the file has the bytes its first
    // save had or would have had. A run never saved takes the next test number, with its own
    // units. Gives true when this save gave the run its number.
    bool SaveAgain(StoredRun& run);

    // The journal folder's first sequence of this station's runs, which retention keeps.
    std::uint64_t KeepJournalsFrom();
    // A journal folder others may write in is named once: whether it was named already. From
    // now on it counts as named (a run's journal that it refuses names it at the stop).
    bool JournalFolderNamedAlready() { return std::exchange(journalFolderTold_, true); }

  private:
    // Offers one run a dead station left in its journal; gives it back when recovered.
    std::optional<StoredRun> RecoverJournal(const JournalSummary& unclosed, ArchiveView& view);
    // The number a save gave `run`, kept in it and in its journal: `open`, the journal the run
    // is still writing, is closed with it; a journal closed already gets it written in.
    void RecordTestNumber(StoredRun& run, std::int64_t testNumber,
                          std::unique_ptr<JournalWriter> open);

    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    std::string exportFolder_;
    std::optional<std::uint64_t> keepJournalsFrom_;
    bool journalFolderTold_ = false;  // a folder that is not private is named once
};

}  // namespace kelvaro
