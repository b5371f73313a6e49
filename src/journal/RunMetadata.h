// What a run is about, as the operator fills it in (who or what was measured, the kind of test,
// notes), and the run's own id, made at its start and kept wherever the run goes, so the same
// run found twice (in its journal, in a library, in a rebuild) is known to be one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvaro {

// The most characters (Unicode code points) each field holds.
inline constexpr std::size_t kEvaluatedMaxChars = 100;
inline constexpr std::size_t kProtocolMaxChars = 60;
inline constexpr std::size_t kNotesMaxChars = 2000;

// UTF-8 texts; empty when not filled in.
struct RunMetadata {
    std::string evaluated;  // "Avaliado"
    std::string protocol;   // "Protocolo"
    std::string notes;      // "Observações"
    bool operator==(const RunMetadata&) const = default;
};

// 128 random bits (a version 4 UUID), all zero for a run made before runs had ids.
using RunId = std::array<std::uint8_t, 16>;

// A new id from the system's random source.
RunId NewRunId();
// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", lower case.
std::string RunIdText(const RunId& id);
// The id a text written by RunIdText names; none for anything else.
std::optional<RunId> ParseRunId(std::string_view text);
bool IsNullRunId(const RunId& id);

// The number of code points of a UTF-8 text (a byte that starts no code point counts as one).
std::size_t CodePoints(std::string_view utf8);
// `utf8` cut to at most `maxChars` code points, never inside one.
std::string CutToCodePoints(std::string_view utf8, std::size_t maxChars);

}  // namespace kelvaro
