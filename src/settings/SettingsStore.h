// The per-user settings store: an INI-like file of sections holding text values, with key
// names compared without regard to case. One object per handler; saving is atomic.
//
// File format (UTF-8, "\n" line ends; a "\r" before "\n" is accepted on load):
//   [Dados]
//   key=value
// - A section header is "[" name "]" (blanks after the "]" are ignored). Section and key names
//   are compared without regard to ASCII letter case; the first spelling written is kept.
// - A key line is split at its first "=": the key is everything before it, the value
//   everything after it, exactly (blanks included; values may contain "=").
// - Escapes, in names and values: "\\" for a backslash, "\n" for a line feed, "\r" for a
//   carriage return, "\0" for a NUL byte; names also escape "=" as "\=" and a leading
//   "[", ";" or "#" as "\[", "\;", "\#". On load a backslash before any other character
//   is kept as typed (so a hand-edited "C:\dados" reads back unchanged).
// - Blank lines (only blanks) and comment lines (first character ";" or "#") are allowed
//   and are not damage; comments are not kept when the file is saved again. A UTF-8 byte
//   order mark at the start is skipped.
// - Damage: a line that is not blank, a comment, a header or a key line; a key line before
//   any section header (it is dropped: every key lives in a section); an empty key name; a
//   line with a NUL byte or invalid UTF-8; a line longer than kMaxLineBytes; a file longer
//   than kMaxFileBytes (the rest is ignored). Such lines are dropped, the good lines kept,
//   the damaged file copied to `<path>.damaged` (replacing an earlier copy: the latest
//   damaged file is kept) and the next save writes a clean file.
// - A name or value written has invalid UTF-8 replaced by U+FFFD and is cut (at a character
//   boundary) so that its line stays within kMaxLineBytes, so a saved file always loads
//   back clean; a write with an empty key name is ignored.
// - Saving takes an advisory lock (flock on `<path>.lock`, waiting at most LockWait),
//   re-reads the file, replays this object's writes over it, writes a temporary file in the
//   same folder, fsyncs it, renames it over the file and fsyncs the folder. A kill at any
//   moment leaves the old or the new file, never a partial one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/FileError.h"

namespace kelvaro {

// The section every key of the station lives in.
inline constexpr std::string_view kSettingsSection = "Dados";

class SettingsStore {
  public:
    // Loads the file at `path` (a missing file is an empty store). A damaged file never
    // throws: the lines that parse are kept and a copy of the file is kept beside it.
    explicit SettingsStore(std::string path);
    // Saves pending writes (see Close); a failure is swallowed here, so call Close to learn it.
    ~SettingsStore();

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // $XDG_CONFIG_HOME/Tovamu.Kelvaro.ini, or ~/.config/Tovamu.Kelvaro.ini.
    static std::string DefaultPath();

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The stored text when it is a valid whole number (optional sign, decimal digits, in
    // range of int32), else the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    bool KeyExists(std::string_view section, std::string_view key) const;

    // Longest line the loader accepts, and how much of a file it reads.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

    // How long Close waits for another process's lock before it gives up (default 10 s).
    void SetLockWait(int milliseconds) { lockWaitMs_ = milliseconds; }

    // Writes pending changes (merged under an advisory lock with what another process may
    // have saved meanwhile) and marks the store closed. Gives the step that failed and its errno
    // when the file could not be written; the old file is then left untouched.
    FileStatus Close();

    // True when loading found lines that did not parse (a copy was kept beside the file).
    bool WasDamaged() const { return damaged_; }
    const std::string& Path() const { return path_; }

  private:
    struct Entry {
        std::string key;  // first spelling written is kept
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    const Entry* Find(std::string_view section, std::string_view key) const;
    static void Set(std::vector<Section>& sections, std::string_view section, std::string_view key,
                    std::string_view value);
    // Reads the file at path_ into `sections` (a missing file is empty). Returns 0, or the
    // errno of a failed read; `damaged` tells whether lines were dropped (a copy is then kept).
    int Load(std::vector<Section>& sections, bool& damaged) const;
    FileStatus Save();

    std::string path_;
    std::vector<Section> sections_;
    // Writes made through this object, replayed over the file's current content on save so a
    // concurrent writer's keys are not lost.
    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> pending_;
    bool damaged_ = false;
    bool closed_ = false;
    int lockWaitMs_ = 10000;
};

}  // namespace kelvaro
