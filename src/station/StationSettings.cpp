#include "station/StationSettings.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "settings/NumberText.h"

namespace kelvaro {

namespace {

// Numbered keys are the base followed by the plate (or option) number: "sp" and 3 give "sp3".
// Key names are compared without regard to case, but the file keeps the spelling written
// first, so the calibration screen's closing write keeps its own "carga".
constexpr std::string_view kTestFrequencyKey = "Frequencia";
constexpr std::string_view kCalibrationFrequencyBase = "FrequenciaP";
constexpr std::string_view kRateOptionBase = "freq";
constexpr std::string_view kTickedBase = "check";
constexpr std::string_view kPortBase = "Porta";
constexpr std::string_view kCalibratedLoadBase = "Carga";
constexpr std::string_view kTypedLoadBase = "carga";
constexpr std::string_view kUnitBase = "u";
constexpr std::string_view kZeroOffsetBase = "sp";
constexpr std::string_view kIndexBase = "idc";
constexpr std::string_view kTareBase = "t";
constexpr std::string_view kLoadedAverageBase = "ComPesoP";
constexpr std::string_view kTareAppliedBase = "btt";
constexpr std::string_view kLastTestNumberKey = "Teste";

// A tare is stored as the caption its button had: only the exact "Tara" (or nothing) means
// none is applied.
constexpr std::string_view kNoTare = "Tara";
constexpr std::string_view kTareApplied = "Remover Tara";

std::string NumberedKey(std::string_view base, int number) {
    return std::string(base) + std::to_string(number);
}

}  // namespace

bool UsableOffset(double value) {
    return std::isfinite(value) && std::fabs(value) <= kCalibrationLimit;
}

bool UsableIndex(double value) {
    if (!UsableOffset(value)) {
        return false;
    }
    const std::string stored = FormatNumber(value, NumberPattern::FourDecimals, '.');
    return stored.find_first_not_of("-0.") != std::string::npos;
}

StationSettings::StationSettings(std::string path, char decimalSeparator)
    : store_(std::move(path)), decimalSeparator_(decimalSeparator) {}

bool StationSettings::Close(std::string* error) {
    return store_.Close(error);
}

std::int32_t StationSettings::SamplingRate(std::string_view key) const {
    const std::int32_t rate = store_.ReadInteger(kSettingsSection, key, kDefaultSamplingRate);
    return std::find(kSamplingRates.begin(), kSamplingRates.end(), rate) != kSamplingRates.end()
               ? rate
               : kDefaultSamplingRate;
}

std::int32_t StationSettings::TestFrequency() const {
    return SamplingRate(kTestFrequencyKey);
}

void StationSettings::SetTestFrequency(std::int32_t hz) {
    store_.WriteInteger(kSettingsSection, kTestFrequencyKey, hz);
}

std::int32_t StationSettings::CalibrationFrequency(int plate) const {
    return SamplingRate(NumberedKey(kCalibrationFrequencyBase, plate));
}

void StationSettings::SetCalibrationFrequency(int plate, std::int32_t hz) {
    store_.WriteInteger(kSettingsSection, NumberedKey(kCalibrationFrequencyBase, plate), hz);
}

void StationSettings::SetRateOptionTicked(int option, bool ticked) {
    store_.WriteBool(kSettingsSection, NumberedKey(kRateOptionBase, option), ticked);
}

bool StationSettings::PlateTicked(int plate, bool unset) const {
    return store_.ReadBool(kSettingsSection, NumberedKey(kTickedBase, plate), unset);
}

void StationSettings::SetPlateTicked(int plate, bool ticked) {
    store_.WriteBool(kSettingsSection, NumberedKey(kTickedBase, plate), ticked);
}

std::string StationSettings::PlatePort(int plate) const {
    return Text(kPortBase, plate, "");
}

void StationSettings::SetPlatePort(int plate, const std::string& port) {
    SetText(kPortBase, plate, port);
}

std::string StationSettings::LoadText(int plate) const {
    return Text(kCalibratedLoadBase, plate, "50");
}

void StationSettings::SetLoadText(int plate, std::string_view text) {
    SetText(kTypedLoadBase, plate, text);
}

void StationSettings::SetCalibratedLoad(int plate, double load) {
    SetThreeDecimals(kCalibratedLoadBase, plate, load);
}

std::string StationSettings::Unit(int plate, std::string_view unset) const {
    return Text(kUnitBase, plate, unset);
}

void StationSettings::SetUnit(int plate, std::string_view unit) {
    SetText(kUnitBase, plate, unit);
}

StoredNumber StationSettings::ZeroOffset(int plate) const {
    return Number(kZeroOffsetBase, plate, "0");
}

StoredNumber StationSettings::CalibrationIndex(int plate) const {
    return Number(kIndexBase, plate, "1");
}

StoredNumber StationSettings::Tare(int plate) const {
    return Number(kTareBase, plate, "0");
}

void StationSettings::SetZeroOffset(int plate, double raw) {
    SetThreeDecimals(kZeroOffsetBase, plate, raw);
}

void StationSettings::SetCalibrationIndex(int plate, double index) {
    SetText(kIndexBase, plate, FormatNumber(index, NumberPattern::FourDecimals, decimalSeparator_));
}

void StationSettings::SetTare(int plate, double load) {
    SetThreeDecimals(kTareBase, plate, load);
}

void StationSettings::SetLoadedAverage(int plate, double raw) {
    SetThreeDecimals(kLoadedAverageBase, plate, raw);
}

bool StationSettings::TareApplied(int plate) const {
    return Text(kTareAppliedBase, plate, kNoTare) != kNoTare;
}

void StationSettings::SetTareApplied(int plate, bool applied) {
    SetText(kTareAppliedBase, plate, applied ? kTareApplied : kNoTare);
}

std::string StationSettings::LastTestNumberText() const {
    return store_.ReadString(kSettingsSection, kLastTestNumberKey, "0");
}

void StationSettings::SetLastTestNumber(std::int64_t number) {
    store_.WriteString(kSettingsSection, kLastTestNumberKey, std::to_string(number));
}

std::string StationSettings::Text(std::string_view base, int plate, std::string_view unset) const {
    return store_.ReadString(kSettingsSection, NumberedKey(base, plate), unset);
}

StoredNumber StationSettings::Number(std::string_view base, int plate,
                                     std::string_view unset) const {
    StoredNumber stored{NumberedKey(base, plate), {}, {}};
    stored.text = store_.ReadString(kSettingsSection, stored.key, unset);
    stored.value = ParseStoredNumber(stored.text, decimalSeparator_);
    return stored;
}

void StationSettings::SetText(std::string_view base, int plate, std::string_view text) {
    store_.WriteString(kSettingsSection, NumberedKey(base, plate), text);
}

void StationSettings::SetThreeDecimals(std::string_view base, int plate, double value) {
    SetText(base, plate, FormatNumber(value, NumberPattern::ThreeDecimals, decimalSeparator_));
}

}  // namespace kelvaro
