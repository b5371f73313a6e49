// The export of a finished test as a semicolon-separated Windows-1252 file for a spreadsheet,
// with its numbering, save dialog and progress window; the file writer works on its own too.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "plate/Plate.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

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
// on failure no partial file is left and an earlier file of that name is untouched. Returns
// true, or false with `error` set to a Portuguese text naming the file and the reason.
bool WriteTestFile(const std::string& path, const TestFileHeading& heading,
                   std::span<const LoadRecord> samples, char decimalSeparator,
                   ProgressView& progress, std::string* error);

// Asks whether the test's loads are to be saved, takes the next test number from the settings,
// lets the operator choose the file, writes it and hands it to the desktop to be opened. A
// number the settings cannot keep is told once (until a save succeeds) and counted on from in
// this run. Gives the number of the saved test, or 0 when nothing was saved.
std::int64_t ExportTestRun(StationState& state, std::span<const LoadRecord> loads, Dialogs& dialogs,
                           ProgressView& progress, const std::string& exportFolder);

struct StoredRun;
enum class SaveQuestion { Ask, DontAsk };
// The same for a run read back: asked "Deseja salvar o teste?" first or not, then saved with its
// own heading and decimal separator, so the file has the bytes its first export had or would
// have had. A run never saved takes the next test number, with its own units. Gives the number
// of the saved test, or 0 when nothing was saved.
std::int64_t ExportStoredRun(StationState& state, const StoredRun& run, Dialogs& dialogs,
                             ProgressView& progress, const std::string& exportFolder,
                             SaveQuestion question);

}  // namespace kelvaro
