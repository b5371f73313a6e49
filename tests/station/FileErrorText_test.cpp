// Every kind of file error, with what was being done, in the operator's exact words: the texts
// the settings, the journal and the test files have always shown, byte for byte.
#include "station/FileErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "CaseNames.h"
#include "settings/RegularFile.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

struct WordsCase {
    const char* name;
    FileError error;
    std::string words;
};

FileError Make(FileOperation operation, FileErrorKind kind, std::string path = {},
               std::size_t line = 0) {
    FileError e;
    e.kind = kind;
    e.operation = operation;
    e.path = std::move(path);
    e.line = line;
    return e;
}

FileError Valued(FileError e, std::uint64_t value, std::uint64_t otherValue = 0) {
    e.value = value;
    e.otherValue = otherValue;
    return e;
}

FileError OfPlate(FileError e, int plate) {
    e.plate = plate;
    return e;
}

FileError WithText(FileError e, std::string text) {
    e.text = std::move(text);
    return e;
}

const std::string kIni = "/home/op/.config/Tovamu.Kelvaro.ini";
const std::string kJournal = "/home/op/.local/state/kelvaro/run-2026-12-08T05-40-12.kjr";

FileError Settings(FileOperation step, int error) {
    return SystemFileError(step, error, kIni);
}

FileError Read(FileErrorKind kind) {
    return Make(FileOperation::JournalRead, kind, kJournal);
}

// What is wrong with a journal, as the recent list shows it.
FileError Damage(FileErrorKind kind) {
    return Make(FileOperation::None, kind);
}

FileError Line(FileErrorKind kind, std::size_t line) {
    return Make(FileOperation::TestFileRead, kind, "t.csv", line);
}

FileError Written(int error) {
    return SystemFileError(FileOperation::TestFileWrite, error, "/x/Kelvaro_7.csv");
}

std::uint64_t Negative(std::int64_t value) {
    return static_cast<std::uint64_t>(value);
}

class FileErrorWords : public ::testing::TestWithParam<WordsCase> {};

TEST_P(FileErrorWords, AreTheStationsOwn) {
    EXPECT_EQ(FileErrorText(GetParam().error), GetParam().words);
}

using enum FileErrorKind;
using enum FileOperation;

INSTANTIATE_TEST_SUITE_P(
    Table, FileErrorWords,
    ::testing::Values(
        // Saving the settings: each step, and the system's words for its errno.
        WordsCase{"SettingsFolder", Settings(SettingsCreateFolder, ENOTDIR),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (criar a pasta): um componente do caminho não é uma pasta"},
        WordsCase{"SettingsLockHeld", Settings(SettingsLock, EWOULDBLOCK),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (bloquear o arquivo): o arquivo está bloqueado por outro processo"},
        WordsCase{"SettingsReadFolder", Settings(SettingsReadCurrent, EISDIR),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (ler o arquivo atual): o caminho é uma pasta"},
        WordsCase{"SettingsTemporary", Settings(SettingsCreateTemporary, EACCES),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (criar o arquivo temporário): permissão negada"},
        WordsCase{"SettingsWrite", Settings(SettingsWriteTemporary, EFBIG),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (escrever o arquivo temporário): arquivo grande demais"},
        WordsCase{"SettingsPermissions", Settings(SettingsSetPermissions, EPERM),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (ajustar as permissões do arquivo temporário): permissão negada"},
        WordsCase{"SettingsSync", Settings(SettingsSyncTemporary, EIO),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (descarregar o arquivo temporário no disco): erro de entrada e saída"},
        WordsCase{"SettingsClose", Settings(SettingsCloseTemporary, EDQUOT),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (fechar o arquivo temporário): cota de disco excedida"},
        WordsCase{"SettingsReplace", Settings(SettingsReplace, EROFS),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (substituir o arquivo): sistema de arquivos somente leitura"},
        WordsCase{"SettingsFolderSync", Settings(SettingsSyncFolder, ENOSPC),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (descarregar a pasta no disco): disco cheio"},
        WordsCase{"SettingsOtherErrno", Settings(SettingsLock, EBADF),
                  "Não foi possível gravar as configurações em \"" + kIni +
                      "\" (bloquear o arquivo): erro do sistema 9 (Bad file descriptor)"},

        // A journal made at the start, written during the run, closed at the stop.
        WordsCase{"JournalPortTooLong", OfPlate(Valued(Make(JournalCreate, PortTooLong), 255), 2),
                  "O diário do teste não foi criado: o texto da porta da Placa 2 passa de 255 "
                  "bytes."},
        WordsCase{"JournalUnitTooLong", OfPlate(Valued(Make(JournalCreate, UnitTooLong), 255), 4),
                  "O diário do teste não foi criado: o texto da unidade da Placa 4 passa de 255 "
                  "bytes."},
        WordsCase{"JournalFolderUnmade",
                  SystemFileError(JournalCreate, ENOTDIR, "/tmp/file/kelvaro"),
                  "O diário do teste não foi criado: um componente do caminho não é uma pasta "
                  "(/tmp/file/kelvaro)."},
        WordsCase{"JournalHeaderRefused", Valued(Make(JournalCreate, ImpossibleFrequency), 7),
                  "O diário do teste não foi criado: a frequência (7) é impossível."},
        WordsCase{"JournalNoThread", SystemFileError(JournalCreate, EAGAIN),
                  "O diário do teste não foi criado: o arquivo está bloqueado por outro "
                  "processo."},
        WordsCase{"JournalFolderNotPrivate",
                  Make(JournalCreate, FolderNotPrivate, "/home/op/.local/state/kelvaro"),
                  "A pasta dos diários /home/op/.local/state/kelvaro não é só sua: outro usuário "
                  "é dono dela ou pode gravar nela.\rNenhum teste é guardado nem recuperado dali "
                  "enquanto ela não for só sua."},
        WordsCase{"JournalStopped", SystemFileError(JournalWrite, EFBIG, kJournal),
                  "O diário do teste parou: arquivo grande demais (" + kJournal + ")."},
        WordsCase{"JournalBehind", Make(JournalWrite, DiskTooSlow, kJournal),
                  "O diário do teste parou: o disco não acompanha a gravação (" + kJournal + ")."},
        WordsCase{"JournalNotClosed", SystemFileError(JournalFinish, ENOSPC, kJournal),
                  "O diário do teste não foi fechado: disco cheio (" + kJournal + ")."},

        // A journal updated or read later.
        WordsCase{"NumberRefused",
                  Valued(Make(JournalSetTestNumber, ImpossibleNumber, kJournal), Negative(-3)),
                  "O número do teste não foi guardado no diário " + kJournal +
                      ": o número -3 é impossível."},
        WordsCase{"TextsOnAnOldJournal",
                  Valued(Make(JournalSetMetadata, NoRoomForMetadata, kJournal), 2),
                  "Os dados do teste não foram guardados no diário " + kJournal +
                      ": o diário é da versão 2 do formato, que não guarda esses dados."},
        WordsCase{"LeftOpenInUse", Make(JournalCloseLeftOpen, StillBeingWritten, kJournal),
                  "O diário " + kJournal + " não foi fechado: ele ainda está sendo gravado."},
        WordsCase{"ReadFifo", SystemFileError(JournalRead, kNotARegularFile, kJournal),
                  "O diário " + kJournal + " não pode ser lido: não é um arquivo comum."},
        WordsCase{"NotAJournal", Read(NotAJournal),
                  "O diário " + kJournal + " não pode ser lido: não é um diário do Kelvaro."},
        WordsCase{"HeaderCutShort", Valued(Damage(HeaderIncomplete), 1000),
                  "o cabeçalho está incompleto (1000 bytes)"},
        WordsCase{"UnknownVersion", Valued(Damage(UnknownVersion), 3),
                  "a versão 3 do formato não é conhecida"},
        WordsCase{"HeaderSize", Valued(Damage(ImpossibleHeaderSize), 512),
                  "o tamanho do cabeçalho (512) é impossível"},
        WordsCase{"RecordShape", Valued(Damage(ImpossibleRecordShape), 20, 5),
                  "o registro de 20 bytes e 5 placas é impossível"},
        WordsCase{"Frequency", Valued(Damage(ImpossibleFrequency), Negative(-600)),
                  "a frequência (-600) é impossível"},
        WordsCase{"ActivePlates", Valued(Damage(ImpossibleActivePlates), 16),
                  "a marca de placas ativas (16) é impossível"},
        WordsCase{"TestNumber", Valued(Damage(ImpossibleTestNumber), Negative(-1)),
                  "o número do teste (-1) é impossível"},
        WordsCase{"ClosedMark", Valued(Damage(ImpossibleClosedMark), 4),
                  "a marca de fechamento (4) é impossível"},
        WordsCase{"Sequence", Valued(Damage(ImpossibleSequence), UINT64_MAX),
                  "o número de sequência (18446744073709551615) é impossível"},
        WordsCase{"Calibration", OfPlate(Damage(ImpossibleCalibration), 2),
                  "a calibração da Placa 2 é impossível"},
        WordsCase{"PortUnended", OfPlate(Damage(UnterminatedPort), 1),
                  "o texto da porta da Placa 1 não termina"},
        WordsCase{"UnitUnended", OfPlate(Damage(UnterminatedUnit), 4),
                  "o texto da unidade da Placa 4 não termina"},
        WordsCase{"NotesTooLong", Valued(Damage(MetadataTooLong), 2, 2000),
                  "o campo Observações passa de 2000 caracteres"},
        WordsCase{"TooManyRecords", Valued(Damage(TooManyRecords), 144001),
                  "tem 144001 amostras, mais do que um teste pode ter"},
        WordsCase{"CountMismatch", Valued(Damage(ClosedCountMismatch), 10, 12),
                  "foi fechado com 10 amostras, mas tem 12"},
        WordsCase{"TornAfterClose", Valued(Read(TornAfterClose), 10, 7),
                  "O diário " + kJournal +
                      " não pode ser lido: foi fechado com 10 amostras, mas tem 7 bytes a mais."},

        // A test file read back.
        WordsCase{"FileMissing", SystemFileError(TestFileRead, ENOENT, "/x/missing.csv"),
                  "O arquivo /x/missing.csv não pode ser lido: pasta ou arquivo inexistente."},
        WordsCase{"Empty", Line(EmptyFile, 1), "Linha 1: o arquivo está vazio (arquivo t.csv)."},
        WordsCase{"ForeignCsv", Valued(Line(UnexpectedHeadingLine, 1), 0),
                  "Linha 1: esperada a linha \"Avaliação;<número>;\" (arquivo t.csv)."},
        WordsCase{"PortLine", Valued(Line(UnexpectedHeadingLine, 5), 4),
                  "Linha 5: esperada a linha \"Placa 2;<porta>;\" (arquivo t.csv)."},
        WordsCase{"UnitLine", Valued(Line(UnexpectedHeadingLine, 9), 8),
                  "Linha 9: esperada a linha \"Am Geral;Am1: <unidade>;Am2: <unidade>;Am3: "
                  "<unidade>;Am4: <unidade>;\" (arquivo t.csv)."},
        WordsCase{"LineFeedsOnly", Line(NoCarriageReturn, 1),
                  "Linha 1: a linha termina sem CR (arquivo t.csv)."},
        WordsCase{"QuoteNeverClosed", Line(OpenQuotes, 9),
                  "Linha 9: aspas abertas até o fim do arquivo (arquivo t.csv)."},
        WordsCase{"HeadingCut", Line(EndsInHeading, 6),
                  "Linha 6: o arquivo termina antes do fim do cabeçalho (arquivo t.csv)."},
        WordsCase{"ByteOutsideCodePage", Valued(Line(NotWindows1252, 4), 0x81),
                  "Linha 4: o byte 0x81 não é um caractere do Windows-1252 (arquivo t.csv)."},
        WordsCase{"ControlByte", Valued(Line(ControlCharacter, 12), 0x01),
                  "Linha 12: caractere de controle 0x01 (arquivo t.csv)."},
        WordsCase{"TooFewFields", Valued(Line(FieldCount, 12), 3),
                  "Linha 12: uma amostra tem 5 campos (número e quatro cargas), esta linha tem 3 "
                  "(arquivo t.csv)."},
        WordsCase{"RowUnended", Line(NoFinalSemicolon, 12),
                  "Linha 12: a linha não termina com \";\" (arquivo t.csv)."},
        WordsCase{"LoadNotANumber", WithText(OfPlate(Line(NotALoad, 12), 2), "abc"),
                  "Linha 12: a carga da Placa 2 (\"abc\") não é um número com três decimais "
                  "(arquivo t.csv)."},
        WordsCase{"SampleOutOfSequence", WithText(Valued(Line(UnexpectedSample, 12), 2), "3"),
                  "Linha 12: esperada a amostra 2, encontrado \"3\" (arquivo t.csv)."},
        WordsCase{"SampleFieldCut",
                  WithText(Valued(Line(UnexpectedSample, 11), 1), "abcdefghijklmnopqrstuvwxy"),
                  "Linha 11: esperada a amostra 1, encontrado \"abcdefghijklmnopqrstuvwx...\" "
                  "(arquivo t.csv)."},
        WordsCase{"SampleFieldWhole",
                  WithText(Valued(Line(UnexpectedSample, 11), 1), "abcdefghijklmnopqrstuvwx"),
                  "Linha 11: esperada a amostra 1, encontrado \"abcdefghijklmnopqrstuvwx\" "
                  "(arquivo t.csv)."},
        WordsCase{"LoadFieldOnOneLine",
                  WithText(OfPlate(Line(NotALoad, 13), 3), "1\t2\r\n\x7f\xc3\xa7\xe2\x82\xac"),
                  "Linha 13: a carga da Placa 3 (\"1?2???ç€\") não é um número com três "
                  "decimais (arquivo t.csv)."},
        WordsCase{"LoadFieldCutAfterAccents",
                  WithText(OfPlate(Line(NotALoad, 13), 1), "çççççççççççççççççççççççççç"),
                  "Linha 13: a carga da Placa 1 (\"çççççççççççççççççççççççç...\") não é um número "
                  "com três decimais (arquivo t.csv)."},
        WordsCase{"SeparatorChanges", OfPlate(Valued(Line(SeparatorChanged, 13), '.', ','), 1),
                  "Linha 13: a carga da Placa 1 tem \".\" como separador decimal, as linhas "
                  "anteriores \",\" (arquivo t.csv)."},
        WordsCase{"LastLineCut", Line(IncompleteLine, 13),
                  "Linha 13: a linha está incompleta, sem o fim de linha (arquivo t.csv)."},
        WordsCase{"EmptyLineAtTheEnd", Line(EmptyLine, 14),
                  "Linha 14: linha vazia (arquivo t.csv)."},
        WordsCase{"MoreSamplesThanARun", Valued(Line(TooManySamples, 144011), 144000),
                  "Linha 144011: mais de 144000 amostras, o máximo de um teste (arquivo t.csv)."},
        WordsCase{"LineLongerThanARun", Valued(Line(LineTooLong, 11), 16 * 1024 * 1024),
                  "Linha 11: a linha tem mais de 16 MB, bem mais do que um teste (arquivo "
                  "t.csv)."},

        // A test file written: the export's own capitalised reasons, and no full stop.
        WordsCase{"WriteFull", Written(ENOSPC),
                  "Não foi possível gravar o arquivo /x/Kelvaro_7.csv: Sem espaço no dispositivo"},
        WordsCase{"WriteBusy", Written(ETXTBSY),
                  "Não foi possível gravar o arquivo /x/Kelvaro_7.csv: O arquivo está em uso"},
        WordsCase{"WriteOverAFifo", Written(kNotARegularFile),
                  "Não foi possível gravar o arquivo /x/Kelvaro_7.csv: Não é um arquivo comum"},
        WordsCase{"WriteOtherErrno", Written(EBADF),
                  "Não foi possível gravar o arquivo /x/Kelvaro_7.csv: Erro 9 (Bad file "
                  "descriptor)"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
