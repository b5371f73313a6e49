#include "library/LibraryRebuild.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>

#include "archive/TestFileReader.h"
#include "journal/Journal.h"
#include "library/RunRecording.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;

// The files SQLite keeps beside a library, moved with it; the log first, so that no log is
// ever left beside a file it does not belong to.
constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal"};

// Whether a process other than this one has the library open. Each connection of SQLite's WAL
// mode holds a shared lock on byte 128 of the -shm file (its "DMS" byte) while it is open; a
// lock of this process itself is not seen, so this one's must all be closed already. A station
// on a network file system (rollback journal) holds no lock between its writes and is not seen.
bool OpenElsewhere(const std::string& libraryPath) {
    const int fd = ::open((libraryPath + "-shm").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 128;
    probe.l_len = 1;
    const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

LibraryStatus BusyStatus() {
    return {LibraryError::Busy, 0, "another process has the library open"};
}

// What an old library can still tell, read straight from the file so that a damaged one gives
// what its readable pages hold: the station it belonged to, its runs' texts as last edited
// (an edit in the library window reaches no journal) and where they were saved, and the files
// it imported from wherever they were.
struct OldRun {
    std::string savedFile;
    RunMetadata metadata;
};
struct OldLibrary {
    std::string stationId, stationHost;
    std::map<RunId, OldRun> runs;
    std::vector<std::string> importedFiles;
};

OldLibrary ReadOldLibrary(const std::string& path) {
    static std::atomic<unsigned> count{0};
    OldLibrary old;
    const QString name = QStringLiteral("kelvaro-old-library-%1").arg(count.fetch_add(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QString::fromStdString(path));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery station(db);
            if (station.exec(QStringLiteral("SELECT key, value FROM station"))) {
                while (station.next()) {
                    const QString key = station.value(0).toString();
                    const std::string value = station.value(1).toString().toStdString();
                    (key == QStringLiteral("id") ? old.stationId : old.stationHost) = value;
                }
            }
            QSqlQuery runs(db);
            if (runs.exec(QStringLiteral("SELECT run_id, imported, file_path, evaluated, protocol,"
                                         " notes FROM runs"))) {
                while (runs.next()) {
                    std::string file = runs.value(2).toString().toStdString();
                    const std::optional<RunId> id =
                        ParseRunId(runs.value(0).toString().toStdString());
                    if (runs.value(1).toInt() != 0) {
                        old.importedFiles.push_back(std::move(file));
                    } else if (id) {
                        old.runs[*id] = {std::move(file),
                                         {runs.value(3).toString().toStdString(),
                                          runs.value(4).toString().toStdString(),
                                          runs.value(5).toString().toStdString()}};
                    }
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return old;
}

// A test file of the export folder, known by what its heading and length say.
struct ExportedFile {
    std::string path;
    std::int64_t testNumber = 0;
    std::int32_t frequency = 0;
    std::size_t samples = 0;
};

std::vector<std::string> TestFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !folder.empty() && !error && it != end;
         it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::error_code kind;
        if (extension == ".csv" && it->is_regular_file(kind)) {
            files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Whether the test file at `path` is what `run` was saved as: the same number, rate and length,
// and every load of its plates as the file writes it (three decimals; a missing reading empty).
bool SavedAs(const LibraryRun& run, const std::string& path) {
    TestFileContent content;
    if (!ReadTestFile(path, content) || content.testNumber != run.testNumber ||
        content.frequency != run.frequency || content.loads.size() != run.raw.size()) {
        return false;
    }
    for (std::size_t k = 0; k < run.raw.size(); ++k) {
        const LoadRecord load = ConvertRecord(run.raw[k], run.calibration, run.active);
        for (int p = 0; p < kPlateCount; ++p) {
            const double written = content.loads[k][p];
            const bool same =
                std::isnan(load[p]) ? std::isnan(written) : std::abs(load[p] - written) <= 0.00051;
            if (run.active[p] && !same) {
                return false;
            }
        }
    }
    return true;
}

// The file a saved run from a journal was saved as: where the old library said, or a test file
// of the export folder with its content; empty when none is found.
std::string SavedFileOf(const LibraryRun& run, const OldLibrary& old,
                        const std::vector<ExportedFile>& exported) {
    if (run.testNumber <= 0) {
        return {};
    }
    if (const auto named = old.runs.find(run.runId); named != old.runs.end() &&
                                                     !named->second.savedFile.empty() &&
                                                     SavedAs(run, named->second.savedFile)) {
        return named->second.savedFile;
    }
    for (const ExportedFile& file : exported) {
        if (file.testNumber == run.testNumber && file.frequency == run.frequency &&
            file.samples == run.raw.size() && SavedAs(run, file.path)) {
            return file.path;
        }
    }
    return {};
}

void RemoveWithCompanions(const std::string& path) {
    std::error_code ignored;
    for (const char* companion : kCompanions) {
        fs::remove(path + companion, ignored);
    }
    fs::remove(path, ignored);
}

// Moves the library and the files beside it to `aside`, the log first.
LibraryStatus MoveAside(const std::string& path, const std::string& aside) {
    for (const char* companion : kCompanions) {
        const std::string from = path + companion;
        if (::access(from.c_str(), F_OK) == 0 &&
            std::rename(from.c_str(), (aside + companion).c_str()) != 0) {
            return {errno == ENOSPC                                       ? LibraryError::DiskFull
                    : errno == EACCES || errno == EPERM || errno == EROFS ? LibraryError::ReadOnly
                                                                          : LibraryError::Other,
                    errno, from};
        }
    }
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        return {errno == EACCES || errno == EPERM || errno == EROFS ? LibraryError::ReadOnly
                                                                    : LibraryError::Other,
                errno, path};
    }
    return {};
}

}  // namespace

std::string AsideLibraryPath(const std::string& libraryPath,
                             std::chrono::system_clock::time_point when) {
    const fs::path path(libraryPath);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    const std::string base = (path.parent_path() / path.stem()).string() + "-antiga-" + stamp;
    std::string aside = base + path.extension().string();
    std::error_code error;
    for (int n = 2; fs::exists(fs::symlink_status(aside, error)); ++n) {
        aside = base + "-" + std::to_string(n) + path.extension().string();
    }
    return aside;
}

LibraryRebuildReport RebuildLibrary(LibraryStore& store, const std::string& libraryPath,
                                    const LibraryRebuildSources& sources) {
    LibraryRebuildReport report;
    const fs::path path(libraryPath);
    const std::string building =
        (path.parent_path() / path.stem()).string() + "-reconstrucao" + path.extension().string();
    // Whatever ends the rebuild, the store is left on a library at its path.
    auto end = [&](LibraryStatus status) {
        store.Close();
        if (!status) {
            RemoveWithCompanions(building);
            report.keptAside.clear();
        }
        report.status = status;
        store.Open(libraryPath);
        return report;
    };

    store.Close();
    if (OpenElsewhere(libraryPath)) {
        return end(BusyStatus());
    }
    std::error_code error;
    const bool exists = fs::exists(fs::symlink_status(libraryPath, error));
    if (exists) {
        const LibraryStatus was = store.Open(libraryPath);
        store.Close();
        if (was.error == LibraryError::Busy ||
            (was.error == LibraryError::NewerSchema && !sources.setNewerSchemaAside)) {
            return end(was);
        }
    }
    const OldLibrary old = exists ? ReadOldLibrary(libraryPath) : OldLibrary{};

    RemoveWithCompanions(building);  // what a rebuild cut short left
    if (LibraryStatus made = store.Open(building); !made) {
        return end(made);
    }
    if (!old.stationId.empty()) {
        if (LibraryStatus kept = store.SetStation(old.stationId, old.stationHost); !kept) {
            return end(kept);
        }
    }

    std::vector<ExportedFile> exported;
    const std::vector<std::string> files = TestFilesIn(sources.exportFolder);
    for (const std::string& file : files) {
        TestFileContent content;
        if (ReadTestFile(file, content)) {
            exported.push_back({file, content.testNumber, content.frequency, content.loads.size()});
        }
    }
    for (const JournalSummary& journal : ListJournals(sources.journalFolder)) {
        if (journal.inUse) {
            continue;  // a run going on: its station records it when it ends
        }
        if (journal.damage) {
            FileError damage = *journal.damage;
            damage.path = journal.path;
            report.unreadableJournals.push_back(std::move(damage));
            continue;
        }
        LibraryRun run;
        if (FileStatus read = RunFromJournal(journal.path, {}, run); !read) {
            report.unreadableJournals.push_back(*read.error);
            continue;
        }
        if (const std::string saved = SavedFileOf(run, old, exported); !saved.empty()) {
            if (RunFromJournal(journal.path, saved, run)) {
                ++report.savedFilesFound;
            }
        }
        if (const auto known = old.runs.find(run.runId); known != old.runs.end()) {
            run.metadata = known->second.metadata;
        }
        if (LibraryStatus recorded = store.RecordRun(run); !recorded) {
            return end(recorded);
        }
        ++report.runsFromJournals;
    }
    std::vector<std::string> imports = files;
    for (const std::string& file : old.importedFiles) {
        if (std::find(files.begin(), files.end(), file) == files.end() &&
            fs::is_regular_file(file, error)) {
            imports.push_back(file);
        }
    }
    for (const std::string& file : imports) {
        const ImportOutcome outcome = store.ImportTestFile(file);
        switch (outcome.result) {
            case ImportResult::Imported:
                ++report.filesImported;
                break;
            case ImportResult::AlreadyThere:
                ++report.filesAlreadyThere;
                break;
            case ImportResult::Refused:
                report.refusedFiles.push_back(outcome.fileError.value_or(FileError{}));
                break;
            case ImportResult::NotRecorded:
                return end(outcome.status);
        }
    }

    store.Close();
    // A log left beside the new file means its last writes never reached it.
    if (fs::exists(building + "-wal", error)) {
        return end({LibraryError::Other, 0, building + "-wal: not folded into the library"});
    }
    // Checked again: a station that opened the old library meanwhile would go on writing to it
    // once it is aside.
    if (OpenElsewhere(libraryPath)) {
        return end(BusyStatus());
    }
    if (exists) {
        report.keptAside = AsideLibraryPath(libraryPath, std::chrono::system_clock::now());
        if (LibraryStatus moved = MoveAside(libraryPath, report.keptAside); !moved) {
            // The companions already moved go back beside their library.
            MoveAside(report.keptAside, libraryPath);
            return end(moved);
        }
    }
    if (std::rename(building.c_str(), libraryPath.c_str()) != 0) {
        const int why = errno;
        if (exists) {
            MoveAside(report.keptAside, libraryPath);
        }
        return end({LibraryError::Other, why, building});
    }
    return end({});
}

}  // namespace kelvaro
