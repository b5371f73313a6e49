// Looking at a finished run again: the recent runs the journals keep, as the operator's list
// shows them, and any run read back (a journal or a test file the station saved) ready to be
// drawn and saved again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/StoredRun.h"

namespace kelvaro {

// One line of the recent-runs list, in the operator's words.
struct RecentRun {
    std::string path;
    std::string date;        // 08/12/2026
    std::string time;        // 05:40:12
    std::string testNumber;  // "7", or "não salvo", or "em andamento" while a station writes it
    std::string samples;     // "144000"
    std::string plates;      // "1, 2, 4"
    std::string damage;      // why the journal cannot be read; empty when it can
    RunMetadata metadata;    // what the operator said the run is about (UTF-8)
};

// The journals of `folder`, newest first in the order the runs were made (ListJournals).
std::vector<RecentRun> ListRecentRuns(const std::string& folder);

// Where the operator picks a run to look at again: a recent one, or a saved test file.
class RunChooser {
  public:
    virtual ~RunChooser() = default;
    // The path of the journal or file picked, or none.
    virtual std::optional<std::string> Choose(const std::vector<RecentRun>& recent) = 0;
};

}  // namespace kelvaro
