#include "review/RunReview.h"

#include "journal/Journal.h"
#include "station/FileErrorText.h"

namespace kelvaro {

std::vector<RecentRun> ListRecentRuns(const std::string& folder) {
    std::vector<RecentRun> runs;
    for (const JournalSummary& journal : ListJournals(folder)) {
        RecentRun run;
        run.path = journal.path;
        if (journal.damage) {
            run.damage = FileErrorText(*journal.damage);
        } else {
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
            run.metadata = description.metadata;
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

}  // namespace kelvaro
