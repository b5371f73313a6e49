#include "run/SampleStore.h"

namespace kelvaro {

SampleStore::SampleStore()
    : raw_(std::make_unique<std::array<RawRecord, kMaxSamples>>()),
      loads_(std::make_unique<std::array<LoadRecord, kMaxSamples>>()) {}

void SampleStore::Clear() {
    count_ = 0;
    loadCount_ = 0;
    conversion_.reset();
}

void SampleStore::Append(const RawRecord& raw) {
    const auto row = static_cast<std::size_t>(count_++);
    (*raw_)[row] = raw;
    if (conversion_) {
        (*loads_)[row] = ConvertRecord(raw, conversion_->first, conversion_->second);
        loadCount_ = count_;
    }
}

std::span<const RawRecord> SampleStore::Raw() const {
    return {raw_->data(), static_cast<std::size_t>(count_)};
}

void SampleStore::Convert(const PlateCalibrations& calibration, const ActivePlates& active) {
    for (auto s = static_cast<std::size_t>(loadCount_); s < static_cast<std::size_t>(count_); ++s) {
        (*loads_)[s] = ConvertRecord((*raw_)[s], calibration, active);
    }
    loadCount_ = count_;
    conversion_.emplace(calibration, active);
}

std::span<const LoadRecord> SampleStore::Loads() const {
    return {loads_->data(), static_cast<std::size_t>(loadCount_)};
}

}  // namespace kelvaro
