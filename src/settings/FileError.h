// Why a file of the station (settings, journal, test file) could not be read or written: one
// typed result for every library that works with files, so a caller can branch on the cause.
// The operator's words for it are made in one place above these libraries (FileErrorText).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kelvaro {

enum class FileErrorKind {
    System,  // a system call failed: systemError holds its errno (or kNotARegularFile)

    // A journal header that a start-up would refuse, or that is no journal's.
    NotAJournal,
    HeaderIncomplete,        // value: the file's size
    UnknownVersion,          // value: the version
    ImpossibleHeaderSize,    // value: the size
    ImpossibleRecordShape,   // value: the record's bytes, otherValue: its plates
    ImpossibleFrequency,     // value: the frequency (signed)
    ImpossibleActivePlates,  // value: the mark
    ImpossibleTestNumber,    // value: the number (signed)
    ImpossibleClosedMark,    // value: the mark
    ImpossibleSequence,      // value: the sequence
    ImpossibleCalibration,   // plate
    UnterminatedPort,        // plate
    UnterminatedUnit,        // plate
    MetadataTooLong,         // value: the field (0 Avaliado, 1 Protocolo, 2 Observações),
                             // otherValue: its limit in characters
    TooManyRecords,          // value: the records
    ClosedCountMismatch,     // value: the count it was closed with, otherValue: the records
    TornAfterClose,          // value: the count it was closed with, otherValue: the bytes over
    // A journal being made, written, or updated.
    PortTooLong,        // plate, value: the most bytes a text takes
    UnitTooLong,        // plate, value: the most bytes a text takes
    DiskTooSlow,        // the records waiting for the disk passed what is kept for it
    StillBeingWritten,  // a writer holds the journal
    ImpossibleNumber,   // value: the test number asked for (signed)
    NoRoomForMetadata,  // value: the journal's version, older than the run's texts
    FolderNotPrivate,   // path: the journal folder, not the user's own alone

    // A test file that is not one the station wrote; line: where.
    EmptyFile,
    EndsInHeading,
    TooManySamples,  // value: the most samples of a test
    LineTooLong,     // value: the longest line, in bytes
    OpenQuotes,
    IncompleteLine,
    NoCarriageReturn,
    UnexpectedHeadingLine,  // value: which heading line was expected, 0 for the first
    EmptyLine,
    NoFinalSemicolon,
    FieldCount,        // value: the fields the line has
    UnexpectedSample,  // value: the sample number expected, text: the field found
    NotALoad,          // plate, text: the field found
    SeparatorChanged,  // plate, value: the separator, otherValue: the earlier rows'
    ControlCharacter,  // value: the byte
    NotWindows1252,    // value: the byte
};

// What was being done when it failed: the words lead with it.
enum class FileOperation {
    None,  // the reason alone (a journal the recent list shows as damaged)
    // Saving the settings, by step.
    SettingsCreateFolder,
    SettingsLock,
    SettingsReadCurrent,
    SettingsCreateTemporary,
    SettingsWriteTemporary,
    SettingsSetPermissions,
    SettingsSyncTemporary,
    SettingsCloseTemporary,
    SettingsReplace,
    SettingsSyncFolder,
    // A run's journal.
    JournalCreate,         // making it at the start
    JournalWrite,          // its records during the run
    JournalFinish,         // its closing marks at the stop
    JournalSetTestNumber,  // the number of a run saved later
    JournalSetMetadata,    // the texts of a run edited later
    JournalCloseLeftOpen,  // closing one its writer left open
    JournalRead,
    // A test file.
    TestFileRead,
    TestFileWrite,
};

struct FileError {
    FileErrorKind kind = FileErrorKind::System;
    FileOperation operation = FileOperation::None;
    int systemError = 0;   // errno for System, 0 otherwise
    std::string path;      // the file (or folder) concerned; empty when none is named
    std::size_t line = 0;  // a test file's line, from 1; 0 when none
    int plate = 0;         // the plate, from 1, when the fault is one plate's
    // The numbers the kind names, as the file or the call held them; a signed one is kept in
    // two's complement.
    std::uint64_t value = 0;
    std::uint64_t otherValue = 0;
    std::string text;  // a field as the file holds it, in UTF-8, its first 25 characters at most

    friend bool operator==(const FileError&, const FileError&) = default;
};

// The outcome of a call on a file: ok, or the error.
struct FileStatus {
    std::optional<FileError> error;

    FileStatus() = default;
    FileStatus(FileError e) : error(std::move(e)) {}  // NOLINT(google-explicit-constructor)

    bool Ok() const { return !error.has_value(); }
    explicit operator bool() const { return Ok(); }
};

// A system call's failure.
inline FileError SystemFileError(FileOperation operation, int systemError, std::string path = {}) {
    FileError e;
    e.operation = operation;
    e.systemError = systemError;
    e.path = std::move(path);
    return e;
}

// What is wrong with a file's content, with the values its words quote; signed values go in
// two's complement. The caller adds what was being done, the path and the line.
inline FileError ContentFileError(FileErrorKind kind, std::uint64_t value = 0,
                                  std::uint64_t otherValue = 0) {
    FileError e;
    e.kind = kind;
    e.value = value;
    e.otherValue = otherValue;
    return e;
}

}  // namespace kelvaro
