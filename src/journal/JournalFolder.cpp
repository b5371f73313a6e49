// The journal folder: where it is, whether it may be used, its journals newest first, their
// pruning, and the runs a crash left open.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "journal/Journal.h"
#include "journal/JournalFile.h"
#include "settings/PrivateFolder.h"

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

std::optional<FileError> JournalFolderRefusal(const std::string& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !(S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode)) ||
        PrivateFolder(folder)) {
        return std::nullopt;  // missing, or no folder at all: making it tells why
    }
    FileError refusal;
    refusal.kind = FileErrorKind::FolderNotPrivate;
    refusal.path = folder;
    return refusal;
}

std::vector<JournalSummary> ListJournals(const std::string& folder) {
    struct Found {
        JournalSummary summary;
        // Version 2 by sequence above version 1 by start (ms) above the unreadable ones.
        int rank = 0;
        std::int64_t order = 0;
    };
    std::vector<Found> found;
    if (!PrivateFolder(folder)) {
        return {};  // anybody may have put anything there
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() != kExtension || !entry.is_regular_file(error)) {
            continue;
        }
        Found f;
        JournalSummary& s = f.summary;
        s.path = entry.path().string();
        UniqueFd fd;
        struct stat info {};
        s.damage = OpenRegularFile(s.path, O_RDONLY, fd);
        if (!s.damage && ::fstat(fd.Get(), &info) != 0) {
            s.damage = SystemFileError(FileOperation::None, errno);
        } else if (!s.damage) {
            s.fileBytes = static_cast<std::uint64_t>(info.st_size);
            s.damage = ReadHeader(fd.Get(), s.description, s.sampleCount);
            s.inUse = ::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        }
        if (!s.damage && s.description.version >= 2) {
            f.rank = 2;
            f.order = static_cast<std::int64_t>(s.description.sequence);
        } else if (!s.damage) {
            f.rank = 1;
            f.order = std::chrono::duration_cast<std::chrono::milliseconds>(
                          s.description.start.time_since_epoch())
                          .count();
        }
        found.push_back(std::move(f));
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.rank, a.order, a.summary.path) >
               std::tie(b.rank, b.order, b.summary.path);
    });
    std::vector<JournalSummary> list;
    list.reserve(found.size());
    for (Found& f : found) {
        list.push_back(std::move(f.summary));
    }
    return list;
}

std::uint64_t NextJournalSequence(const std::string& folder) {
    std::uint64_t highest = 0;
    for (const JournalSummary& s : ListJournals(folder)) {
        highest = std::max(highest, s.description.sequence);
    }
    return highest + 1;
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
        const bool kept = oldest->inUse || oldest->description.sequence >= limits.keepFrom;
        if (!kept && ::unlink(oldest->path.c_str()) == 0) {
            --runs;
            bytes -= oldest->fileBytes;
        }
    }
}

std::vector<JournalSummary> FindUnclosedJournals(const std::string& folder) {
    std::vector<JournalSummary> unclosed;
    for (JournalSummary& s : ListJournals(folder)) {
        const JournalState state = s.description.state;
        // A live writer's run goes on, and a damaged journal is no run to draw: it stays for
        // the operator to look at.
        if (!s.inUse && !s.damage &&
            (state == JournalState::Open || state == JournalState::AwaitingSave)) {
            unclosed.push_back(std::move(s));
        }
    }
    return unclosed;
}

}  // namespace kelvaro
