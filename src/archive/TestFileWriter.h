// The test file: a finished test as a semicolon-separated Windows-1252 file for a spreadsheet,
// written whole or not at all. Its reader is TestFileReader; the saving of a run is RunArchive.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "plate/Plate.h"
#include "settings/FileError.h"
#include "station/ProgressView.h"

namespace kelvaro {

// UTF-8 text as Windows-1252 bytes. A character that has no byte there, a C0 or C1 control
// other than tab, CR and LF, and a byte sequence that is not UTF-8 each become "?".
std::string ToWindows1252(std::string_view utf8);

// A free text as one CSV field: unchanged, unless it holds ";", a double quote, CR or LF,
// which would shift the columns; it is then quoted with its quotes doubled.
std::string CsvField(std::string_view text);

// Appends `value` with the pattern "0.000" and the given decimal separator; the same digits
// as FormatNumber (rounded half away from zero on the shortest decimal text, never "-0,000"),
// without allocating. An infinite or NaN value appends nothing: its field is left empty.
void AppendThreeDecimals(std::string& out, double value, char decimalSeparator);

// What the heading lines of a test file carry. Texts are UTF-8.
struct TestFileHeading {
    std::int64_t testNumber = 0;
    std::int32_t frequency = 0;
    std::array<std::string, kPlateCount> ports;
    std::array<std::string, kPlateCount> units;
};

// The whole file content: ten heading lines and one line per sample, CR LF everywhere.
// Progress: the maximum is the sample count, position 0 and shown first, the position is the
// row just written, closed after the last row (also when the writing fails).
// Writes through a temporary file in the same folder that is synced and renamed over `path`:
// on failure no partial file is left and an earlier file of that name is untouched. Gives the
// error (operation TestFileWrite, the path and the errno) when the file could not be written.
FileStatus WriteTestFile(const std::string& path, const TestFileHeading& heading,
                         std::span<const LoadRecord> samples, char decimalSeparator,
                         ProgressView& progress);

// Writes `bytes` as the whole content of `path` the way WriteTestFile writes its file: through
// a synced temporary renamed into place, refusing a name that stands for anything but a
// regular file or a folder. A failure leaves no partial file and gives the error with
// `operation`, the path and the errno.
FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, FileOperation operation);

}  // namespace kelvaro
