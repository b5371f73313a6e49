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

namespace kelvaro {

// The rates the frequency screen offers, in Hz; the plate's Configure codes only these.
inline constexpr std::array<std::int32_t, 7> kSamplingRates{50, 100, 150, 200, 300, 400, 600};
inline constexpr std::int32_t kDefaultSamplingRate = 50;

// The largest magnitude a zero offset, tare or calibration index may have. Raw readings are
// 24-bit counts; with an index no smaller than what four decimals can hold, every load then
// stays below 1e17 and is written as plain digits.
inline constexpr double kCalibrationLimit = 1e12;

// A zero offset or tare the conversion can use: a finite number within kCalibrationLimit.
bool UsableOffset(double value);
// A calibration index the conversion can use: finite, within kCalibrationLimit, and not zero
// once stored with four decimals (0.00004 would be stored as 0,0000).
bool UsableIndex(double value);

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

    // Saves what was written (see SettingsStore::Close); false with a readable reason when
    // the file could not be written.
    bool Close(std::string* error = nullptr);

    // The test frequency (Frequencia) and the frequency each plate was last calibrated at
    // (FrequenciaP1..4). Anything but one of kSamplingRates reads as kDefaultSamplingRate.
    std::int32_t TestFrequency() const;
    void SetTestFrequency(std::int32_t hz);
    std::int32_t CalibrationFrequency(int plate) const;
    void SetCalibrationFrequency(int plate, std::int32_t hz);
    // The frequency screen's options 1..7 ticked or not (freq1..7): written, never read.
    void SetRateOptionTicked(int option, bool ticked);

    // Whether a plate is in use (check1..4); `unset` is what a plate never stored reads as.
    bool PlateTicked(int plate, bool unset) const;
    void SetPlateTicked(int plate, bool ticked);
    // The port a plate was last found on (Porta1..4), "" before the first.
    std::string PlatePort(int plate) const;
    void SetPlatePort(int plate, const std::string& port);

    // The known load of a plate's calibration (Carga1..4), "50" before the first: as the
    // operator typed it when the calibration screen closed, or as calibrated.
    std::string LoadText(int plate) const;
    void SetLoadText(int plate, std::string_view text);
    void SetCalibratedLoad(int plate, double load);
    // The unit of a plate's loads (u1..4) as typed; `unset` is what a plate never stored
    // reads as.
    std::string Unit(int plate, std::string_view unset) const;
    void SetUnit(int plate, std::string_view unit);

    // A plate's zero offset (sp1..4, "0"), calibration index (idc1..4, "1") and tare
    // (t1..4, "0"); the raw reading under the known load (ComPesoP1..4) is written only.
    StoredNumber ZeroOffset(int plate) const;
    StoredNumber CalibrationIndex(int plate) const;
    StoredNumber Tare(int plate) const;
    void SetZeroOffset(int plate, double raw);
    void SetCalibrationIndex(int plate, double index);
    void SetTare(int plate, double load);
    void SetLoadedAverage(int plate, double raw);
    // Whether a tare is applied to a plate (btt1..4).
    bool TareApplied(int plate) const;
    void SetTareApplied(int plate, bool applied);

    // The last test number handed out (Teste) as stored, "0" before the first test.
    std::string LastTestNumberText() const;
    void SetLastTestNumber(std::int64_t number);

  private:
    std::string Text(std::string_view base, int plate, std::string_view unset) const;
    StoredNumber Number(std::string_view base, int plate, std::string_view unset) const;
    void SetText(std::string_view base, int plate, std::string_view text);
    void SetThreeDecimals(std::string_view base, int plate, double value);
    std::int32_t SamplingRate(std::string_view key) const;

    SettingsStore store_;
    char decimalSeparator_;
};

}  // namespace kelvaro
