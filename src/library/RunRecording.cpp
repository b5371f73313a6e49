#include "library/RunRecording.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "journal/Journal.h"

namespace kelvaro {

std::string LibraryPathIn(const std::string& journalFolder) {
    return journalFolder + "/biblioteca.sqlite";
}

namespace {

// A journal older than run ids gets one from what never changes in it, so that recording it
// again (a rebuild, another " Salvar") finds the same test instead of making a second one.
// The bits of a name-based UUID of the custom kind (version 8).
RunId IdOfAnOlderJournal(const JournalDescription& description) {
    std::string name = "kelvaro-journal:" +
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          description.start.time_since_epoch())
                                          .count()) +
                       ":" + std::to_string(description.frequency) + ":" +
                       std::to_string(description.sequence);
    for (const JournalPlate& plate : description.plates) {
        name += ":" + plate.port;
    }
    const std::string hex = Sha256Hex(name);
    RunId id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x80);
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);
    return id;
}

}  // namespace

FileStatus RunFromJournal(const std::string& journalPath, const std::string& savedFile,
                          LibraryRun& run) {
    JournalContents journal;
    if (FileStatus read = ReadJournal(journalPath, journal); !read) {
        return read;
    }
    const JournalDescription& description = journal.description;
    LibraryRun read;
    read.runId =
        IsNullRunId(description.runId) ? IdOfAnOlderJournal(description) : description.runId;
    read.start = description.start;
    read.frequency = description.frequency;
    read.testNumber = description.testNumber;
    read.metadata = description.metadata;
    for (std::size_t i = 0; i < description.plates.size(); ++i) {
        const JournalPlate& plate = description.plates[i];
        read.active[i] = plate.active;
        read.units[i] = plate.unit;
        read.ports[i] = plate.port;
        read.calibration[i] = plate.calibration;
    }
    read.raw = std::move(journal.records);
    if (read.raw.size() > kMaxSamples) {
        read.raw.resize(kMaxSamples);
    }
    if (!savedFile.empty()) {
        std::ifstream file(savedFile, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        if (!file.is_open() || file.bad()) {
            return SystemFileError(FileOperation::TestFileRead, errno, savedFile);
        }
        read.filePath = savedFile;
        read.fileSha256 = Sha256Hex(bytes);
    }
    run = std::move(read);
    return {};
}

FileStatus KeepMetadataInJournal(const std::string& journalFolder, const RunId& id,
                                 const RunMetadata& metadata) {
    for (const JournalSummary& journal : ListJournals(journalFolder)) {
        if (journal.description.runId == id && !journal.damage) {
            // A journal still being written takes its texts from its run.
            return journal.inUse ? FileStatus{} : SetJournalMetadata(journal.path, metadata);
        }
    }
    return {};
}

std::string LibraryStatusText(const LibraryStatus& status, const std::string& path) {
    const std::string library = "A biblioteca de testes (" + path + ") ";
    switch (status.error) {
        case LibraryError::None:
            return {};
        case LibraryError::Damaged:
            return library +
                   "está danificada e não foi alterada. Os testes continuam nos diários "
                   "e nos arquivos salvos";
        case LibraryError::NewerSchema:
            return library + "foi gravada por uma versão mais nova do programa e só pode ser lida";
        case LibraryError::ReadOnly:
            return library + "não pode ser gravada (sem permissão ou disco somente leitura)";
        case LibraryError::DiskFull:
            return library + "não pôde guardar o teste: o disco está cheio";
        case LibraryError::Busy:
            return library + "está ocupada por outro programa há mais de 5 segundos";
        case LibraryError::Other:
            break;
    }
    return library + "não pôde guardar o teste (" + status.nativeText + ")";
}

std::string LibraryBackupText(const LibraryStatus& status, const std::string& destination) {
    const std::string failed = "A biblioteca não foi copiada para " + destination;
    if (status.systemError == EEXIST) {
        return failed + ": esse arquivo já existe. Escolha outro nome";
    }
    if (status.error == LibraryError::DiskFull) {
        return failed + ": o disco está cheio";
    }
    return failed + " (" + status.nativeText + ")";
}

}  // namespace kelvaro
