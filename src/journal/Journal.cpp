// The journal writer, the reader and the test number's later update; see Journal.h.
#include "journal/Journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

#include "journal/JournalFile.h"

namespace kelvaro {

using namespace journal;

namespace {

using Clock = std::chrono::steady_clock;

// How often the background thread hands the records to the kernel (a kill loses at most this),
// and how long after a sync it syncs again: together about a second of records at risk when the
// power fails.
constexpr auto kWriteInterval = std::chrono::milliseconds(250);
constexpr auto kSyncInterval = std::chrono::milliseconds(750);
// Room kept for the records between two writes (a quarter of a second at 4 x 600 Hz needs 150),
// and how many may wait for a disk that does not take them before the journal gives up on it.
constexpr std::size_t kPendingRoom = 4096;
constexpr std::size_t kMaxPending = 1U << 20;

// Makes `folder` and the missing folders above it, mode 0700. 0 or the errno.
int MakeFolder(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return errno;
    }
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

// "run-2026-12-08T05-40-12": the start in local time.
std::string BaseName(std::chrono::system_clock::time_point start) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(start);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "run-%Y-%m-%dT%H-%M-%S", &local);
    return text;
}

}  // namespace

JournalWriter::~JournalWriter() {
    if (fd_ >= 0) {
        StopWriting();
        ::close(fd_);
    }
}

bool JournalWriter::Open(const std::string& folder, const JournalDescription& description,
                         const JournalLimits& limits) {
    if (!path_.empty() || Failed()) {
        return false;
    }
    const auto refuse = [this](FileError error) {
        error.operation = FileOperation::JournalCreate;
        Fail(std::move(error));
        return false;
    };
    for (std::size_t i = 0; i < description.plates.size(); ++i) {
        const JournalPlate& plate = description.plates[i];
        for (auto [text, tooLong] : {std::pair{&plate.port, FileErrorKind::PortTooLong},
                                     std::pair{&plate.unit, FileErrorKind::UnitTooLong}}) {
            if (text->size() >= kTextBytes || text->find('\0') != std::string::npos) {
                FileError error;
                error.kind = tooLong;
                error.plate = static_cast<int>(i + 1);
                error.value = kTextBytes - 1;
                return refuse(std::move(error));
            }
        }
    }
    JournalDescription opening = description;
    opening.testNumber = 0;
    opening.state = JournalState::Open;
    opening.closedCount = 0;
    opening.sequence = 1;  // checked with the first; the folder's next is taken below
    // A journal that could not be read back is not worth writing.
    JournalDescription check;
    if (auto damage = DecodeHeader(EncodeHeader(opening).data(), kHeaderSize, kHeaderSize, check)) {
        return refuse(std::move(*damage));
    }
    if (const int error = MakeFolder(folder); error != 0) {
        return refuse(SystemFileError(FileOperation::None, error, folder));
    }
    if (auto refusal = JournalFolderRefusal(folder)) {
        return refuse(std::move(*refusal));
    }
    // Two stations of one user may start runs at once: each takes the folder's next sequence
    // and makes its file before the other looks. A file system without locks only loses that.
    const UniqueFd folderLock(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (folderLock.Valid() && ::flock(folderLock.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    opening.sequence = NextJournalSequence(folder);
    const HeaderBytes header = EncodeHeader(opening);
    const std::string base = folder + "/" + BaseName(description.start);
    UniqueFd fd;
    std::string path;
    for (int n = 1; !fd.Valid() && n <= 1000; ++n) {
        path = base + (n > 1 ? "-" + std::to_string(n) : "") + kExtension;
        fd = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.Valid() && errno != EEXIST) {
            return refuse(SystemFileError(FileOperation::None, errno, path));
        }
    }
    if (!fd.Valid()) {
        return refuse(SystemFileError(FileOperation::None, EEXIST, path));
    }
    // The lock tells the folder's readers that this journal is being written, so none takes
    // it for a crashed run or removes it. A file system without locks only loses that.
    ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    if (const int error = WriteAllAt(fd.Get(), header.data(), header.size(), 0); error != 0) {
        ::unlink(path.c_str());
        return refuse(SystemFileError(FileOperation::None, error, path));
    }
    pending_.reserve(kPendingRoom);
    // The thread reads these from its start.
    path_ = path;
    folder_ = folder;
    fd_ = fd.Get();
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        fd_ = -1;
        path_.clear();
        ::unlink(path.c_str());
        return refuse(SystemFileError(FileOperation::None, e.code().value()));
    }
    fd.Release();
    PruneJournals(folder, limits);
    return true;
}

void JournalWriter::Append(std::span<const RawRecord> records) {
    if (fd_ < 0 || Failed()) {
        return;
    }
    bool tooMany = false;
    {
        const std::lock_guard lock(mutex_);
        if (pending_.size() + records.size() > kMaxPending) {
            tooMany = true;
        } else {
            try {
                pending_.insert(pending_.end(), records.begin(), records.end());
            } catch (const std::bad_alloc&) {
                tooMany = true;
            }
        }
    }
    if (tooMany) {
        FileError error;
        error.kind = FileErrorKind::DiskTooSlow;
        error.operation = FileOperation::JournalWrite;
        error.path = path_;
        Fail(std::move(error));
    }
}

void JournalWriter::StopWriting() {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    // After a failure the file may end in a torn record; the count is of the whole ones.
    count_ = written_;
    struct stat info {};
    if (Failed() && ::fstat(fd_, &info) == 0) {
        count_ = (static_cast<std::uint64_t>(info.st_size) - kHeaderSize) / kRecordSize;
    }
}

void JournalWriter::Mark(JournalState state, std::int64_t testNumber) {
    const auto fields =
        EncodeRewritten(testNumber, Failed() ? JournalState::Stopped : state, count_);
    int error = WriteAllAt(fd_, fields.data(), fields.size(), kRewrittenOffset);
    if (error == 0 && ::fdatasync(fd_) != 0) {
        error = errno;
    }
    if (error != 0) {
        Fail(SystemFileError(FileOperation::JournalFinish, error, path_));
    }
}

bool JournalWriter::AwaitAnswer() {
    if (fd_ < 0) {
        return false;
    }
    StopWriting();
    Mark(JournalState::AwaitingSave, 0);
    return !Failed();
}

bool JournalWriter::Close(std::int64_t testNumber) {
    if (fd_ < 0) {
        return false;
    }
    StopWriting();
    Mark(JournalState::Closed, testNumber);
    ::close(fd_);
    fd_ = -1;
    return !Failed();
}

std::optional<FileError> JournalWriter::TakeError() {
    const std::lock_guard lock(mutex_);
    if (!error_ || std::exchange(errorTaken_, true)) {
        return std::nullopt;
    }
    return error_;
}

void JournalWriter::Fail(FileError error) {
    failed_.store(true, std::memory_order_relaxed);
    const std::lock_guard lock(mutex_);
    if (!error_) {
        error_ = std::move(error);
    }
}

void JournalWriter::Run() {
    std::vector<RawRecord> batch;
    batch.reserve(kPendingRoom);
    std::vector<unsigned char> bytes;
    auto lastSync = Clock::now();
    bool unsynced = true;  // the header has not been synced yet
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kWriteInterval, [this] { return stop_; });
        const bool stopping = stop_;
        batch.swap(pending_);
        lock.unlock();
        if (!batch.empty() && !Failed()) {
            EncodeRecords(batch, bytes);
            const int error =
                WriteAllAt(fd_, bytes.data(), bytes.size(), kHeaderSize + written_ * kRecordSize);
            if (error != 0) {
                Fail(SystemFileError(FileOperation::JournalWrite, error, path_));
            } else {
                written_ += batch.size();
                unsynced = true;
            }
        }
        batch.clear();
        const auto now = Clock::now();
        if (unsynced && !Failed() && (stopping || now - lastSync >= kSyncInterval)) {
            lastSync = now;
            unsynced = false;
            Sync();
        }
        lock.lock();
        if (stopping) {
            return;
        }
    }
}

void JournalWriter::Sync() {
    if (::fdatasync(fd_) != 0) {
        Fail(SystemFileError(FileOperation::JournalWrite, errno, path_));
        return;
    }
    durable_.store(written_, std::memory_order_relaxed);
    // The new file's name is durable once its folder is synced; once is enough.
    if (!std::exchange(folderSynced_, true)) {
        const UniqueFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Valid()) {
            ::fsync(folder.Get());
        }
    }
}

namespace {

// A journal opened by path, its header read, and what its failures are told as done to.
class JournalAt {
  public:
    JournalAt(const std::string& path, int flags, FileOperation operation)
        : damage(OpenJournal(path, flags, fd, description, records)),
          path_(path),
          operation_(operation) {}
    FileError Fail(FileError error) const {
        error.operation = operation_;
        error.path = path_;
        return error;
    }
    FileError Fail(FileErrorKind kind) const {
        FileError error;
        error.kind = kind;
        return Fail(std::move(error));
    }
    FileError FailSystem(int systemError) const {
        return Fail(SystemFileError(operation_, systemError));
    }

    UniqueFd fd;
    JournalDescription description;
    std::uint64_t records = 0;
    std::optional<FileError> damage;  // none when the header reads

  private:
    std::string path_;
    FileOperation operation_;
};

}  // namespace

FileStatus SetJournalTestNumber(const std::string& path, std::int64_t testNumber) {
    const JournalAt at(path, O_RDWR, FileOperation::JournalSetTestNumber);
    if (at.damage) {
        return at.Fail(*at.damage);
    }
    if (testNumber < 0) {
        FileError error = at.Fail(FileErrorKind::ImpossibleNumber);
        error.value = static_cast<std::uint64_t>(testNumber);
        return error;
    }
    const auto fields =
        EncodeRewritten(testNumber, at.description.state, at.description.closedCount);
    int e = WriteAllAt(at.fd.Get(), fields.data(), 8, kRewrittenOffset);
    if (e == 0 && ::fdatasync(at.fd.Get()) != 0) {
        e = errno;
    }
    return e == 0 ? FileStatus() : at.FailSystem(e);
}

FileStatus SetJournalMetadata(const std::string& path, const RunMetadata& metadata) {
    const JournalAt at(path, O_RDWR, FileOperation::JournalSetMetadata);
    if (at.damage) {
        return at.Fail(*at.damage);
    }
    if (at.description.version < 3) {
        FileError error = at.Fail(FileErrorKind::NoRoomForMetadata);
        error.value = at.description.version;
        return error;
    }
    const auto fields = EncodeMetadata(metadata);
    int e = WriteAllAt(at.fd.Get(), fields.data(), fields.size(), kMetadataOffset);
    if (e == 0 && ::fdatasync(at.fd.Get()) != 0) {
        e = errno;
    }
    return e == 0 ? FileStatus() : at.FailSystem(e);
}

FileStatus CloseJournal(const std::string& path) {
    const JournalAt at(path, O_RDWR, FileOperation::JournalCloseLeftOpen);
    if (at.damage) {
        return at.Fail(*at.damage);
    }
    const JournalState state = at.description.state;
    if (state != JournalState::Open && state != JournalState::AwaitingSave) {
        return {};
    }
    if (::flock(at.fd.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return at.Fail(FileErrorKind::StillBeingWritten);
    }
    // A run left at the save question holds every record; a crashed one, its first ones.
    const auto fields = EncodeRewritten(
        at.description.testNumber,
        state == JournalState::AwaitingSave ? JournalState::Closed : JournalState::Stopped,
        at.records);
    int e = WriteAllAt(at.fd.Get(), fields.data(), fields.size(), kRewrittenOffset);
    if (e == 0 && ::fdatasync(at.fd.Get()) != 0) {
        e = errno;
    }
    return e == 0 ? FileStatus() : at.FailSystem(e);
}

FileStatus ReadJournal(const std::string& path, JournalContents& contents) {
    JournalAt at(path, O_RDONLY, FileOperation::JournalRead);
    if (at.damage) {
        return at.Fail(*at.damage);
    }
    std::vector<unsigned char> bytes(at.records * kRecordSize);
    std::size_t got = 0;
    if (const int e = ReadAllAt(at.fd.Get(), bytes.data(), bytes.size(),
                                HeaderSizeOf(at.description.version), got);
        e != 0) {
        return at.FailSystem(e);
    }
    contents.description = std::move(at.description);
    DecodeRecords(bytes.data(), got / kRecordSize, contents.records);
    return {};
}

bool StartsAsJournal(const std::string& path) {
    UniqueFd fd;
    std::array<unsigned char, 8> start{};
    std::size_t got = 0;
    return !OpenRegularFile(path, O_RDONLY, fd) &&
           ReadAllAt(fd.Get(), start.data(), start.size(), 0, got) == 0 &&
           StartsWithMagic(start.data(), got);
}

}  // namespace kelvaro
