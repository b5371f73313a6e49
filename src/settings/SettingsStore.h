// The per-user settings store: an INI-like file of sections holding text values, with key
// names compared without regard to case. One object per handler; saving is atomic.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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

    // Writes pending changes (merged under an advisory lock with what another process may
    // have saved meanwhile) and marks the store closed. Returns false with a readable reason
    // when the file could not be written; the old file is then left untouched.
    bool Close(std::string* error = nullptr);

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
    void Set(std::vector<Section>& sections, std::string_view section, std::string_view key,
             std::string_view value);

    std::string path_;
    std::vector<Section> sections_;
    // Writes made through this object, replayed over the file's current content on save so a
    // concurrent writer's keys are not lost.
    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> pending_;
    bool damaged_ = false;
    bool closed_ = false;
};

}  // namespace kelvaro
