// The journal folder: where it is, its journals newest first, their pruning, and the run a
// crash left open.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "journal/Journal.h"
#include "journal/JournalFile.h"

namespace kelvaro {

using namespace journal;

std::string DefaultJournalFolder() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {  // the XDG rules ignore a relative path
        return std::string(xdg) + "/kelvaro";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : "/tmp";
    }
    return std::string(home) + "/.local/state/kelvaro";
}

std::vector<JournalSummary> ListJournals(const std::string& folder) {
    struct Found {
        JournalSummary summary;
        std::int64_t newness;  // milliseconds since the epoch
    };
    std::vector<Found> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() != kExtension || !entry.is_regular_file(error)) {
            continue;
        }
        Found f{{}, 0};
        JournalSummary& s = f.summary;
        s.path = entry.path().string();
        const UniqueFd fd(::open(s.path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
            s.damage = SystemErrorText(errno);
        } else {
            s.fileBytes = static_cast<std::uint64_t>(info.st_size);
            s.damage = ReadHeader(fd.Get(), s.description, s.sampleCount);
            s.inUse = ::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            f.newness = s.damage.empty() ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                               s.description.start.time_since_epoch())
                                               .count()
                                         : std::int64_t{info.st_mtim.tv_sec} * 1000 +
                                               info.st_mtim.tv_nsec / 1000000;
        }
        found.push_back(std::move(f));
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.newness != b.newness ? a.newness > b.newness : a.summary.path > b.summary.path;
    });
    std::vector<JournalSummary> list;
    list.reserve(found.size());
    for (Found& f : found) {
        list.push_back(std::move(f.summary));
    }
    return list;
}

void PruneJournals(const std::string& folder, const JournalLimits& limits) {
    const std::vector<JournalSummary> list = ListJournals(folder);
    std::size_t runs = list.size();
    std::uint64_t bytes = 0;
    for (const JournalSummary& s : list) {
        bytes += s.fileBytes;
    }
    for (auto oldest = list.rbegin();
         oldest != list.rend() && (runs > limits.runs || bytes > limits.bytes); ++oldest) {
        if (!oldest->inUse && ::unlink(oldest->path.c_str()) == 0) {
            --runs;
            bytes -= oldest->fileBytes;
        }
    }
}

std::optional<JournalSummary> FindUnclosedJournal(const std::string& folder) {
    for (JournalSummary& s : ListJournals(folder)) {
        if (s.inUse) {
            continue;  // its writer is alive
        }
        if (!s.damage.empty() || s.description.state == JournalState::Open) {
            return std::move(s);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace kelvaro
