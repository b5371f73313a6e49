// How a test's readings are packed into the library: raw readings as each plate's differences
// from its previous reading (small numbers for a plate that moves little) in variable-length
// bytes, compressed; loads of an imported test as their bytes, compressed.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plate/Plate.h"

namespace kelvaro {

std::string PackRawReadings(std::span<const RawRecord> raw);
// None when `packed` is not what PackRawReadings made.
std::optional<std::vector<RawRecord>> UnpackRawReadings(const std::string& packed);

std::string PackLoads(std::span<const LoadRecord> loads);
std::optional<std::vector<LoadRecord>> UnpackLoads(const std::string& packed);

// A text folded for matching: lower case, accents taken off ("João" and "JOAO" fold alike).
std::string FoldForSearch(const std::string& utf8);

}  // namespace kelvaro
