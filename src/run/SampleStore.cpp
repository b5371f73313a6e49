#include "run/SampleStore.h"

namespace kelvaro {

SampleStore::SampleStore()
    : raw_(std::make_unique<std::array<RawRecord, kMaxSamples>>()),
      loads_(std::make_unique<std::array<LoadRecord, kMaxSamples>>()) {}

void SampleStore::Clear() {
    count_ = 0;
    loadCount_ = 0;
}

RawRecord& SampleStore::Append() {
    RawRecord& record = (*raw_)[static_cast<std::size_t>(count_++)];
    record.fill(kMissingReading);
    return record;
}

std::span<const RawRecord> SampleStore::Raw() const {
    return {raw_->data(), static_cast<std::size_t>(count_)};
}

void SampleStore::Convert(const PlateCalibrations& calibration, const ActivePlates& active) {
    for (auto s = static_cast<std::size_t>(loadCount_); s < static_cast<std::size_t>(count_); ++s) {
        (*loads_)[s] = ConvertRecord((*raw_)[s], calibration, active);
    }
    loadCount_ = count_;
}

std::span<const LoadRecord> SampleStore::Loads() const {
    return {loads_->data(), static_cast<std::size_t>(loadCount_)};
}

}  // namespace kelvaro
