// Reads a test file the station exported back into its heading and loads, so that a saved test
// can be drawn and saved again; a file that is not one, or is damaged, is refused by line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plate/Plate.h"
#include "settings/FileError.h"

namespace kelvaro {

// A test file's content, in the form the export writer takes it. Texts are UTF-8.
struct TestFileContent {
    std::int64_t testNumber = 0;
    std::int32_t frequency = 0;
    std::array<std::string, kPlateCount> ports;
    std::array<std::string, kPlateCount> units;  // without the "Am1: " the column adds
    // ',' or '.', as the rows were written; none when no row holds a load.
    std::optional<char> decimalSeparator;
    // Plates 1..4's loads of sample k + 1 (the numbers were checked to run 1, 2, 3...), at most
    // kMaxSamples of them; NaN where the field is empty (a load that was not a number).
    std::vector<LoadRecord> loads;
};

// Reads the file at `path` as a stream: it stops at the first line that is wrong, after at most
// one run's rows, and holds no more of the file than the line it reads. On refusal gives the
// error (operation TestFileRead, the path) and leaves `content` as it was: what is wrong and its
// line for the content, or a System error when the file cannot be read at all, at once for a
// FIFO, socket or device (kNotARegularFile).
FileStatus ReadTestFile(const std::string& path, TestFileContent& content);

// The same on bytes already read; `name` is how the error names the file.
FileStatus ParseTestFile(std::string_view bytes, const std::string& name, TestFileContent& content);

}  // namespace kelvaro
