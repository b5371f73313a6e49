#include "review/RunReview.h"

#include "journal/Journal.h"
#include "review/TestFileReader.h"

namespace kelvaro {

namespace {

bool ReadTestFileRun(const std::string& path, StoredRun& run, std::string* error) {
    TestFileContent content;
    if (!ReadTestFile(path, content, error)) {
        return false;
    }
    StoredRun read;
    read.path = path;
    read.heading.testNumber = content.testNumber;
    read.heading.frequency = content.frequency;
    read.heading.ports = content.ports;
    read.heading.units = content.units;
    read.decimalSeparator = content.decimalSeparator;
    read.loads.reserve(content.loads.size());
    for (const auto& row : content.loads) {
        SampleRecord loads{};
        for (std::size_t i = 0; i < loads.size(); ++i) {
            loads[i] = row[i];
            // The file does not say which plates ran; an idle plate's column holds zeros.
            read.active[i] = read.active[i] || row[i] != 0.0;
        }
        read.loads.push_back(loads);
    }
    run = std::move(read);
    return true;
}

}  // namespace

std::vector<RecentRun> ListRecentRuns(const std::string& folder) {
    std::vector<RecentRun> runs;
    for (const JournalSummary& journal : ListJournals(folder)) {
        RecentRun run;
        run.path = journal.path;
        run.damage = journal.damage;
        if (journal.damage.empty()) {
            const JournalDescription& description = journal.description;
            run.date = LocalTimeText(description.start, "%d/%m/%Y");
            run.time = LocalTimeText(description.start, "%H:%M:%S");
            if (journal.inUse) {
                run.testNumber = "em andamento";
            } else if (description.testNumber > 0) {
                run.testNumber = std::to_string(description.testNumber);
            } else {
                run.testNumber = "não salvo";
            }
            run.samples = std::to_string(journal.sampleCount);
            for (std::size_t i = 0; i < description.plates.size(); ++i) {
                if (description.plates[i].active) {
                    run.plates += (run.plates.empty() ? "" : ", ") + std::to_string(i + 1);
                }
            }
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

bool ReadStoredRun(const std::string& path, StoredRun& run, std::string* error) {
    return StartsAsJournal(path) ? ReadJournalRun(path, run, error)
                                 : ReadTestFileRun(path, run, error);
}

}  // namespace kelvaro
