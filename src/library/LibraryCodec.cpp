#include "library/LibraryCodec.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>

namespace kelvaro {
namespace {

constexpr char kRawMark = 'R';
constexpr char kLoadsMark = 'L';

void PutVarint(std::string& out, std::uint32_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

bool GetVarint(const char*& p, const char* end, std::uint32_t& value) {
    value = 0;
    for (int shift = 0; shift < 35 && p != end; shift += 7) {
        const auto byte = static_cast<std::uint8_t>(*p++);
        value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// The compressed form starts with a mark and the record count, so a blob of the wrong kind or
// a cut one is told apart before anything is trusted.
std::string Compress(char mark, std::uint32_t count, const std::string& body) {
    const QByteArray packed =
        qCompress(QByteArray::fromRawData(body.data(), static_cast<qsizetype>(body.size())), 6);
    std::string out(1, mark);
    out.append(reinterpret_cast<const char*>(&count), sizeof count);
    out.append(packed.constData(), static_cast<std::size_t>(packed.size()));
    return out;
}

std::optional<std::string> Uncompress(const std::string& packed, char mark, std::uint32_t& count) {
    if (packed.size() < 1 + sizeof count || packed[0] != mark) {
        return std::nullopt;
    }
    std::memcpy(&count, packed.data() + 1, sizeof count);
    if (count > static_cast<std::uint32_t>(kMaxSamples)) {
        return std::nullopt;
    }
    const std::size_t head = 1 + sizeof count;
    const QByteArray body = qUncompress(reinterpret_cast<const uchar*>(packed.data() + head),
                                        static_cast<qsizetype>(packed.size() - head));
    if (body.isEmpty() && count != 0) {
        return std::nullopt;
    }
    return std::string(body.constData(), static_cast<std::size_t>(body.size()));
}

}  // namespace

std::string PackRawReadings(std::span<const RawRecord> raw) {
    std::string body;
    body.reserve(raw.size() * kPlateCount * 2);
    for (int plate = 0; plate < kPlateCount; ++plate) {
        std::uint32_t previous = 0;
        for (const RawRecord& record : raw) {
            // Modulo 2^32, so a missing reading (all ones) costs a few bytes and comes back whole.
            const auto delta = static_cast<std::int32_t>(record[plate] - previous);
            previous = record[plate];
            PutVarint(body, (static_cast<std::uint32_t>(delta) << 1) ^
                                static_cast<std::uint32_t>(delta >> 31));
        }
    }
    return Compress(kRawMark, static_cast<std::uint32_t>(raw.size()), body);
}

std::optional<std::vector<RawRecord>> UnpackRawReadings(const std::string& packed) {
    std::uint32_t count = 0;
    const std::optional<std::string> body = Uncompress(packed, kRawMark, count);
    if (!body) {
        return std::nullopt;
    }
    std::vector<RawRecord> raw(count);
    const char* p = body->data();
    const char* end = p + body->size();
    for (int plate = 0; plate < kPlateCount; ++plate) {
        std::uint32_t previous = 0;
        for (RawRecord& record : raw) {
            std::uint32_t zigzag = 0;
            if (!GetVarint(p, end, zigzag)) {
                return std::nullopt;
            }
            previous += (zigzag >> 1) ^ (0U - (zigzag & 1U));
            record[plate] = previous;
        }
    }
    if (p != end) {
        return std::nullopt;
    }
    return raw;
}

std::string PackLoads(std::span<const LoadRecord> loads) {
    std::string body(loads.size_bytes(), '\0');
    if (!loads.empty()) {
        std::memcpy(body.data(), loads.data(), loads.size_bytes());
    }
    return Compress(kLoadsMark, static_cast<std::uint32_t>(loads.size()), body);
}

std::optional<std::vector<LoadRecord>> UnpackLoads(const std::string& packed) {
    std::uint32_t count = 0;
    const std::optional<std::string> body = Uncompress(packed, kLoadsMark, count);
    if (!body || body->size() != count * sizeof(LoadRecord)) {
        return std::nullopt;
    }
    std::vector<LoadRecord> loads(count);
    if (count != 0) {
        std::memcpy(loads.data(), body->data(), body->size());
    }
    return loads;
}

std::string FoldForSearch(const std::string& utf8) {
    const QString decomposed =
        QString::fromStdString(utf8).normalized(QString::NormalizationForm_D);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing) {
            folded.append(c);
        }
    }
    return folded.toCaseFolded().toStdString();
}

}  // namespace kelvaro
