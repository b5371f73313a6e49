// The station's settings: every key it keeps, named once, with the default and the notation
// each is read and written in; and the bounds of the stored values that reach a plate or a
// test's conversion. One StationSettings is one session of the settings file: opened, read
// and written, closed (the file's own rules are SettingsStore's).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsStore.h"
#include "settings/StoredBounds.h"

namespace kelvaro {

// The rate of a station that has none stored.
inline constexpr std::int32_t kDefaultSamplingRate = 50;

// A stored calibration number: its key (as a report quotes it), the text found (or the
// first-run text) and its value, read in either decimal notation (ParseStoredNumber).
struct StoredNumber {
    std::string key;
    std::string text;
    std::optional<double> value;
};

class StationSettings {
  public:
    // Opens the settings file at `path`; numbers are written with `decimalSeparator`.
    StationSettings(std::string path, char decimalSeparator);

    // Saves what was written (see SettingsStore::Close); the error when the file could not be
    // written.
    FileStatus Close() { return store_.Close(); }

    // The test frequency and the frequency each plate was last calibrated at. Anything but
    // one of kSamplingRates reads as kDefaultSamplingRate.
    std::int32_t TestFrequency() const { return SamplingRate(kTestFrequency); }
    void SetTestFrequency(std::int32_t hz) { SetInteger(kTestFrequency, hz); }
    std::int32_t CalibrationFrequency(int plate) const {
        return SamplingRate(Key(kCalibrationFrequency, plate));
    }
    void SetCalibrationFrequency(int plate, std::int32_t hz) {
        SetInteger(Key(kCalibrationFrequency, plate), hz);
    }
    // The frequency screen's options 1..7 ticked or not: written, never read.
    void SetRateOptionTicked(int option, bool ticked) { SetBool(Key(kRateOption, option), ticked); }

    // Whether a plate is in use; `unset` is what a plate never stored reads as.
    bool PlateTicked(int plate, bool unset) const {
        return store_.ReadBool(kSettingsSection, Key(kTicked, plate), unset);
    }
    void SetPlateTicked(int plate, bool ticked) { SetBool(Key(kTicked, plate), ticked); }
    // The port a plate was last found on, "" before the first.
    std::string PlatePort(int plate) const { return Text(Key(kPort, plate), ""); }
    void SetPlatePort(int plate, const std::string& port) { SetText(Key(kPort, plate), port); }

    // The known load of a plate's calibration, "50" before the first: as the operator typed
    // it when the calibration screen closed (SetLoadText), or as calibrated.
    std::string LoadText(int plate) const { return Text(Key(kCalibratedLoad, plate), "50"); }
    void SetLoadText(int plate, std::string_view text) { SetText(Key(kTypedLoad, plate), text); }
    void SetCalibratedLoad(int plate, double load) {
        SetThreeDecimals(Key(kCalibratedLoad, plate), load);
    }
    // The unit of a plate's loads as typed; `unset` is what a plate never stored reads as.
    std::string Unit(int plate, std::string_view unset) const {
        return Text(Key(kUnit, plate), unset);
    }
    void SetUnit(int plate, std::string_view unit) { SetText(Key(kUnit, plate), unit); }

    // A plate's zero offset, calibration index and tare; the raw reading under the known
    // load is written only.
    StoredNumber ZeroOffset(int plate) const { return Number(Key(kZeroOffset, plate), "0"); }
    StoredNumber CalibrationIndex(int plate) const { return Number(Key(kIndex, plate), "1"); }
    StoredNumber Tare(int plate) const { return Number(Key(kTare, plate), "0"); }
    void SetZeroOffset(int plate, double raw) { SetThreeDecimals(Key(kZeroOffset, plate), raw); }
    void SetCalibrationIndex(int plate, double index);
    void SetTare(int plate, double load) { SetThreeDecimals(Key(kTare, plate), load); }
    void SetLoadedAverage(int plate, double raw) {
        SetThreeDecimals(Key(kLoadedAverage, plate), raw);
    }
    // Whether a tare is applied to a plate. It is stored as the caption its button had: only
    // the exact "Tara" (or nothing) means none is applied.
    bool TareApplied(int plate) const { return Text(Key(kTareApplied, plate), "Tara") != "Tara"; }
    void SetTareApplied(int plate, bool applied) {
        SetText(Key(kTareApplied, plate), applied ? "Remover Tara" : "Tara");
    }

    // The last test number handed out as stored, "0" before the first test.
    // Whether the chart draws the plates' total: the operator's last choice, none before one.
    std::optional<bool> TotalShown() const {
        if (!store_.KeyExists(kSettingsSection, kTotalShown)) {
            return std::nullopt;
        }
        return store_.ReadBool(kSettingsSection, kTotalShown, false);
    }
    void SetTotalShown(bool shown) { SetBool(kTotalShown, shown); }

    std::string LastTestNumberText() const { return Text(kLastTestNumber, "0"); }
    void SetLastTestNumber(std::int64_t number) {
        SetText(kLastTestNumber, std::to_string(number));
    }

  private:
    // The keys. Numbered ones are the base and the plate (or option) number: "sp" and 3 give
    // "sp3". Names are compared without regard to case, but the file keeps the spelling written
    // first, so the calibration screen's closing write keeps its own "carga".
    static constexpr std::string_view kTestFrequency = "Frequencia";
    static constexpr std::string_view kCalibrationFrequency = "FrequenciaP";
    static constexpr std::string_view kRateOption = "freq";
    static constexpr std::string_view kTicked = "check";
    static constexpr std::string_view kPort = "Porta";
    static constexpr std::string_view kCalibratedLoad = "Carga";
    static constexpr std::string_view kTypedLoad = "carga";
    static constexpr std::string_view kUnit = "u";
    static constexpr std::string_view kZeroOffset = "sp";
    static constexpr std::string_view kIndex = "idc";
    static constexpr std::string_view kTare = "t";
    static constexpr std::string_view kLoadedAverage = "ComPesoP";
    static constexpr std::string_view kTareApplied = "btt";
    static constexpr std::string_view kLastTestNumber = "Teste";
    static constexpr std::string_view kTotalShown = "MostrarTotal";

    static std::string Key(std::string_view base, int number) {
        return std::string(base) + std::to_string(number);
    }
    std::string Text(std::string_view key, std::string_view unset) const {
        return store_.ReadString(kSettingsSection, key, unset);
    }
    StoredNumber Number(std::string key, std::string_view unset) const;
    std::int32_t SamplingRate(std::string_view key) const;
    void SetText(std::string_view key, std::string_view text) {
        store_.WriteString(kSettingsSection, key, text);
    }
    void SetInteger(std::string_view key, std::int64_t value) {
        store_.WriteInteger(kSettingsSection, key, value);
    }
    void SetBool(std::string_view key, bool value) {
        store_.WriteBool(kSettingsSection, key, value);
    }
    void SetThreeDecimals(std::string_view key, double value);

    SettingsStore store_;
    char decimalSeparator_;
};

}  // namespace kelvaro
