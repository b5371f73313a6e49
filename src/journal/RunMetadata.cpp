#include "journal/RunMetadata.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <random>

namespace kelvaro {

namespace {

bool StartsCodePoint(unsigned char byte) {
    return (byte & 0xC0) != 0x80;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

RunId NewRunId() {
    RunId id{};
    std::size_t filled = 0;
    while (filled < id.size()) {
        const ssize_t got = getrandom(id.data() + filled, id.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            // No kernel source (a very old kernel): the library's generator, seeded from it.
            std::random_device device;
            for (std::uint8_t& byte : id) {
                byte = static_cast<std::uint8_t>(device());
            }
            break;
        }
    }
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x40);  // version 4
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    return id;
}

std::string RunIdText(const RunId& id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kDigits[id[i] >> 4];
        text += kDigits[id[i] & 0x0F];
    }
    return text;
}

std::optional<RunId> ParseRunId(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    RunId id{};
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        id[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return id;
}

bool IsNullRunId(const RunId& id) {
    return std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0; });
}

std::size_t CodePoints(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return StartsCodePoint(static_cast<unsigned char>(c));
    }));
}

std::string CutToCodePoints(std::string_view utf8, std::size_t maxChars) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (StartsCodePoint(static_cast<unsigned char>(utf8[i])) && seen++ == maxChars) {
            return std::string(utf8.substr(0, i));
        }
    }
    return std::string(utf8);
}

}  // namespace kelvaro
