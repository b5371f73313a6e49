// The settings store file: see SettingsStore.h for the format, the damage rules and how a
// save is made atomic.
#include "settings/SettingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "settings/RegularFile.h"

namespace kelvaro {

namespace {

namespace fs = std::filesystem;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not valid
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0)
            low = 0xA0;
        if (b0 == 0xED)
            high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0)
            low = 0x90;
        if (b0 == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    const unsigned char b1 = byte(i + 1);
    if (b1 < low || b1 > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

// The escaped form of one character (a UTF-8 sequence) of a name or value.
std::string EscapeChar(std::string_view ch, bool isName, bool atStart) {
    if (ch.size() == 1) {
        switch (ch[0]) {
            case '\\':
                return "\\\\";
            case '\n':
                return "\\n";
            case '\r':
                return "\\r";
            case '\0':
                return "\\0";
            case '=':
                return isName ? "\\=" : "=";
            case '[':
            case ';':
            case '#':
                return (isName && atStart) ? std::string("\\") + ch[0] : std::string(ch);
            default:
                break;
        }
    }
    return std::string(ch);
}

// Replaces invalid UTF-8 by U+FFFD and cuts `text` at a character boundary so that its escaped
// form is at most `maxEscaped` bytes. Returns the (unescaped) text to keep.
std::string Fit(std::string_view text, std::size_t maxEscaped, bool isName) {
    std::string kept;
    std::size_t escapedLength = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = Utf8SequenceLength(text, i);
        std::string_view ch = n == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(i, n);
        const std::size_t add = EscapeChar(ch, isName, kept.empty()).size();
        if (escapedLength + add > maxEscaped) {
            break;
        }
        escapedLength += add;
        kept += ch;
        i += n == 0 ? 1 : n;
    }
    return kept;
}

std::string Escape(std::string_view text, bool isName) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            n = 1;  // cannot happen for Fit()ted texts; kept as is
        }
        out += EscapeChar(text.substr(i, n), isName, i == 0);
        i += n;
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[i + 1];
        switch (next) {
            case '\\':
            case '=':
            case '[':
            case ';':
            case '#':
                out += next;
                ++i;
                break;
            case 'n':
                out += '\n';
                ++i;
                break;
            case 'r':
                out += '\r';
                ++i;
                break;
            case '0':
                out += '\0';
                ++i;
                break;
            default:
                out += '\\';  // an unknown escape is kept as typed
                break;
        }
    }
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Writes all of `bytes` to `fd`, retrying short writes and EINTR. Returns 0 or the errno.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int CloseChecked(int fd) {
    // Linux releases the descriptor even when close reports an error: never retry.
    return ::close(fd) == 0 ? 0 : errno;
}

// Writes `bytes` to `target` through a temporary file in the same folder: write, fsync,
// rename. Returns 0 or the errno of the failed step; the temporary file never stays.
int ReplaceFile(const std::string& target, std::string_view bytes, mode_t mode,
                FileOperation* failedStep) {
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *failedStep = FileOperation::SettingsCreateTemporary;
        return errno;
    }
    int error = WriteAll(fd, bytes);
    if (error != 0) {
        *failedStep = FileOperation::SettingsWriteTemporary;
    } else if (::fchmod(fd, mode) != 0) {
        *failedStep = FileOperation::SettingsSetPermissions;
        error = errno;
    } else if (::fsync(fd) != 0) {
        *failedStep = FileOperation::SettingsSyncTemporary;
        error = errno;
    }
    const int closeError = CloseChecked(fd);
    if (error == 0 && closeError != 0) {
        *failedStep = FileOperation::SettingsCloseTemporary;
        error = closeError;
    }
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        *failedStep = FileOperation::SettingsReplace;
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
    }
    return error;
}

// Syncs the folder so the rename itself is on disk. Filesystems that cannot sync a folder
// (EINVAL) are accepted.
int SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = errno;
    }
    ::close(fd);
    return error;
}

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Removes temporary files left by a save that was killed. Called with the lock held, so no
// live save owns one of them.
void RemoveStaleTemporaries(const std::string& path) {
    const fs::path file(path);
    const std::string prefix = file.filename().string() + ".tmp-";
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(path), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
        }
    }
}

// Holds an flock on `<path>.lock` while it lives.
class FileLock {
  public:
    FileLock(const std::string& lockPath, int waitMs) {
        // Never waited on either: a device or FIFO at the lock's name is no lock.
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        struct stat info {};
        const bool known = ::fstat(fd_, &info) == 0;
        if (!known || !S_ISREG(info.st_mode)) {
            error_ = known ? kNotARegularFile : errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                return;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                error_ = errno;
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    int Error() const { return error_; }

  private:
    int fd_ = -1;
    int error_ = 0;
};

// Reads at most `limit` + 1 bytes of the file. Returns 0 or the errno (ENOENT for a missing
// file, kNotARegularFile for anything but a regular file: a FIFO in the file's place is never
// waited on, before any window is shown).
int ReadFileLimited(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
    const RegularFile file(path);
    if (file.Error() != 0) {
        return file.Error();
    }
    char buffer[65536];
    while (bytes.size() <= limit) {
        const long n = file.Read(buffer, sizeof buffer);
        if (n < 0) {
            return static_cast<int>(-n);
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
    bool damaged = false;
    Load(sections_, damaged);  // an unreadable file reads as an empty store
    damaged_ = damaged;
}

SettingsStore::~SettingsStore() {
    if (!closed_) {
        Close();
    }
}

std::string SettingsStore::DefaultPath() {
    std::string folder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {  // the XDG rules ignore a relative path
        folder = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* entry = ::getpwuid(::getuid());
            home = entry != nullptr ? entry->pw_dir : "/tmp";
        }
        folder = std::string(home) + "/.config";
    }
    return folder + "/Tovamu.Kelvaro.ini";
}

int SettingsStore::Load(std::vector<Section>& sections, bool& damaged) const {
    sections.clear();
    damaged = false;
    std::string bytes;
    const int error = ReadFileLimited(path_, kMaxFileBytes, bytes);
    if (error == ENOENT) {
        return 0;
    }
    if (error != 0) {
        return error;
    }
    std::string_view rest(bytes);
    if (rest.size() > kMaxFileBytes) {
        damaged = true;
        rest = rest.substr(0, kMaxFileBytes);
        const std::size_t lastBreak = rest.rfind('\n');
        rest = lastBreak == std::string_view::npos ? std::string_view() : rest.substr(0, lastBreak);
    }
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") {
        rest.remove_prefix(3);
    }

    bool inSection = false;
    std::string currentName;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kMaxLineBytes || line.find('\0') != std::string_view::npos ||
            !IsValidUtf8(line)) {
            damaged = true;
            continue;
        }
        if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == ';' ||
            line[0] == '#') {
            continue;  // blank line or comment
        }
        if (line[0] == '[') {
            std::string_view header = line;
            while (!header.empty() && IsBlank(header.back())) {
                header.remove_suffix(1);
            }
            if (header.size() < 2 || header.back() != ']') {
                damaged = true;
                inSection = false;  // its keys would land in the wrong section
                continue;
            }
            currentName = Unescape(header.substr(1, header.size() - 2));
            inSection = true;
            continue;
        }
        // Key line: split at the first "=" that is not escaped.
        std::size_t equals = std::string_view::npos;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') {
                ++i;
            } else if (line[i] == '=') {
                equals = i;
                break;
            }
        }
        if (equals == std::string_view::npos || equals == 0 || !inSection) {
            damaged = true;
            continue;
        }
        Set(sections, currentName, Unescape(line.substr(0, equals)),
            Unescape(line.substr(equals + 1)));
    }

    if (damaged) {
        // Keep the latest damaged file beside the store (best effort: a read-only folder
        // only loses the copy). An identical copy is not written again.
        const std::string copyPath = path_ + ".damaged";
        std::string existing;
        if (ReadFileLimited(copyPath, bytes.size(), existing) != 0 || existing != bytes) {
            FileOperation step = FileOperation::None;
            ReplaceFile(copyPath, bytes, 0600, &step);
        }
    }
    return 0;
}

const SettingsStore::Entry* SettingsStore::Find(std::string_view section,
                                                std::string_view key) const {
    for (const Section& s : sections_) {
        if (SameName(s.name, section)) {
            for (const Entry& e : s.entries) {
                if (SameName(e.key, key)) {
                    return &e;
                }
            }
        }
    }
    return nullptr;
}

void SettingsStore::Set(std::vector<Section>& sections, std::string_view section,
                        std::string_view key, std::string_view value) {
    Section* target = nullptr;
    for (Section& s : sections) {
        if (SameName(s.name, section)) {
            target = &s;
            break;
        }
    }
    if (target == nullptr) {
        sections.push_back(Section{std::string(section), {}});
        target = &sections.back();
    }
    for (Entry& e : target->entries) {
        if (SameName(e.key, key)) {
            e.value = std::string(value);
            return;
        }
    }
    target->entries.push_back(Entry{std::string(key), std::string(value)});
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    const Entry* e = Find(section, key);
    return e != nullptr ? e->value : std::string(defaultValue);
}

std::int32_t SettingsStore::ReadInteger(std::string_view section, std::string_view key,
                                        std::int32_t defaultValue) const {
    const Entry* e = Find(section, key);
    if (e == nullptr) {
        return defaultValue;
    }
    // Strict whole number: optional sign, then decimal digits only (no blanks), int32 range.
    std::string_view text = e->value;
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return defaultValue;
    }
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return defaultValue;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 2147483648LL) {
            return defaultValue;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL) {
        return defaultValue;
    }
    return static_cast<std::int32_t>(value);
}

bool SettingsStore::ReadBool(std::string_view section, std::string_view key,
                             bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value) {
    const std::string name = Fit(section, kMaxLineBytes / 4, true);
    const std::string keyName = Fit(key, kMaxLineBytes / 4, true);
    if (keyName.empty()) {
        return;
    }
    const std::size_t keyLength = Escape(keyName, true).size();
    const std::string text = Fit(value, kMaxLineBytes - keyLength - 1, false);

    Set(sections_, name, keyName, text);
    closed_ = false;
    for (auto& p : pending_) {
        if (SameName(p.first.first, name) && SameName(p.first.second, keyName)) {
            p.second = text;
            return;
        }
    }
    pending_.push_back({{name, keyName}, text});
}

void SettingsStore::WriteInteger(std::string_view section, std::string_view key,
                                 std::int64_t value) {
    WriteString(section, key, std::to_string(value));
}

void SettingsStore::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool SettingsStore::KeyExists(std::string_view section, std::string_view key) const {
    return Find(section, key) != nullptr;
}

FileStatus SettingsStore::Close() {
    closed_ = true;
    if (pending_.empty()) {
        return {};
    }
    return Save();
}

FileStatus SettingsStore::Save() {
    const auto fail = [&](FileOperation step, int code) {
        return SystemFileError(step, code, path_);
    };

    const std::string folder = FolderOf(path_);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        return fail(FileOperation::SettingsCreateFolder, ec.value());
    }
    FileLock lock(path_ + ".lock", lockWaitMs_);
    if (lock.Error() != 0) {
        return fail(FileOperation::SettingsLock, lock.Error());
    }
    RemoveStaleTemporaries(path_);

    // Replay this object's writes over what is in the file now.
    std::vector<Section> merged;
    bool damaged = false;
    if (const int readError = Load(merged, damaged); readError != 0) {
        return fail(FileOperation::SettingsReadCurrent, readError);
    }
    for (const auto& p : pending_) {
        Set(merged, p.first.first, p.first.second, p.second);
    }

    std::string text;
    for (const Section& s : merged) {
        if (!text.empty()) {
            text += '\n';
        }
        text += '[';
        text += Escape(s.name, true);
        text += "]\n";
        for (const Entry& e : s.entries) {
            text += Escape(e.key, true);
            text += '=';
            text += Escape(e.value, false);
            text += '\n';
        }
    }

    mode_t mode = 0600;
    struct stat old {};
    if (::stat(path_.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    }
    FileOperation step = FileOperation::None;
    if (const int writeError = ReplaceFile(path_, text, mode, &step); writeError != 0) {
        return fail(step, writeError);
    }
    sections_ = std::move(merged);
    pending_.clear();
    damaged_ = damaged_ || damaged;
    if (const int syncError = SyncFolder(folder); syncError != 0) {
        // The new file is in place, but the rename may not survive a power cut.
        return fail(FileOperation::SettingsSyncFolder, syncError);
    }
    return {};
}

}  // namespace kelvaro
