// The words for file errors; see FileErrorText.h.
#include "station/FileErrorText.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "settings/RegularFile.h"

namespace kelvaro {

namespace {

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::string Signed(std::uint64_t value) {
    return std::to_string(static_cast<std::int64_t>(value));
}

std::string PlateWord(int plate) {
    return "Placa " + std::to_string(plate);
}

std::string HexByte(std::uint64_t b) {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(b >> 4) & 15] + kDigits[b & 15];
}

// A field as a message quotes it: readable, on one line, and short. The field comes in UTF-8
// from a single-byte code page, so a character stands for one byte of the file.
std::string Shown(std::string_view field) {
    constexpr std::size_t kLongest = 24;
    std::string text;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < field.size(); ++characters) {
        const auto lead = static_cast<unsigned char>(field[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (characters < kLongest) {
            const bool control = lead < 0x20 || lead == 0x7F;
            text += control ? std::string_view("?") : field.substr(i, length);
        }
        i += length;
    }
    return "\"" + text + (characters > kLongest ? "...\"" : "\"");
}

// A run's text field as the main window names it.
const char* MetadataFieldName(std::uint64_t field) {
    switch (field) {
        case 0:
            return "Avaliado";
        case 1:
            return "Protocolo";
        default:
            return "Observações";
    }
}

// The test file's heading lines as the operator is told to expect them.
constexpr std::array<std::string_view, 10> kHeadingShapes{
    "Avaliação;<número>;",
    "Frequência;<número>;",
    ";",
    "Placa 1;<porta>;",
    "Placa 2;<porta>;",
    "Placa 3;<porta>;",
    "Placa 4;<porta>;",
    ";",
    "Am Geral;Am1: <unidade>;Am2: <unidade>;Am3: <unidade>;Am4: <unidade>;",
    ";",
};

// System errors in the operator's words, independent of the C locale: "disco cheio", "permissão
// negada", "não é um arquivo comum" (kNotARegularFile), ...; an error without words of its own
// gives its number and the C library's text.
std::string SystemErrorText(int error) {
    switch (error) {
        case ENOSPC:
            return "disco cheio";
        case EDQUOT:
            return "cota de disco excedida";
        case EFBIG:
            return "arquivo grande demais";
        case EACCES:
        case EPERM:
            return "permissão negada";
        case EROFS:
            return "sistema de arquivos somente leitura";
        case ENOENT:
            return "pasta ou arquivo inexistente";
        case ENOTDIR:
            return "um componente do caminho não é uma pasta";
        case EISDIR:
            return "o caminho é uma pasta";
        case EIO:
            return "erro de entrada e saída";
        case EMFILE:
        case ENFILE:
            return "arquivos abertos demais";
        case ENAMETOOLONG:
            return "nome de arquivo longo demais";
        case EWOULDBLOCK:
            return "o arquivo está bloqueado por outro processo";
        case kNotARegularFile:
            return "não é um arquivo comum";
        default:
            return "erro do sistema " + std::to_string(error) + " (" + std::strerror(error) + ")";
    }
}

// The reasons a test file's write fails, as the export has always told them: capitalised, in
// words of their own.
std::string WriteReasonText(int error) {
    switch (error) {
        case ENOSPC:
            return "Sem espaço no dispositivo";
        case EDQUOT:
            return "Cota de disco excedida";
        case EACCES:
        case EPERM:
            return "Permissão negada";
        case EROFS:
            return "Sistema de arquivos somente leitura";
        case ENOENT:
            return "A pasta não existe";
        case ENOTDIR:
            return "Um componente do caminho não é uma pasta";
        case EISDIR:
            return "O nome indica uma pasta";
        case ENAMETOOLONG:
            return "Nome de arquivo muito longo";
        case EFBIG:
            return "Arquivo grande demais";
        case EIO:
            return "Erro de entrada/saída";
        case EMFILE:
        case ENFILE:
            return "Arquivos abertos demais";
        case EBUSY:
        case ETXTBSY:
            return "O arquivo está em uso";
        case kNotARegularFile:
            return "Não é um arquivo comum";
        default:
            return std::string("Erro ") + std::to_string(error) + " (" + std::strerror(error) + ")";
    }
}

// What is wrong, without what was being done.
std::string Reason(const FileError& e) {
    using enum FileErrorKind;
    const std::string v = Number(e.value);
    const std::string o = Number(e.otherValue);
    switch (e.kind) {
        case System:
            return e.operation == FileOperation::TestFileWrite ? WriteReasonText(e.systemError)
                                                               : SystemErrorText(e.systemError);
        case NotAJournal:
            return "não é um diário do Kelvaro";
        case HeaderIncomplete:
            return "o cabeçalho está incompleto (" + v + " bytes)";
        case UnknownVersion:
            return "a versão " + v + " do formato não é conhecida";
        case ImpossibleHeaderSize:
            return "o tamanho do cabeçalho (" + v + ") é impossível";
        case ImpossibleRecordShape:
            return "o registro de " + v + " bytes e " + o + " placas é impossível";
        case ImpossibleFrequency:
            return "a frequência (" + Signed(e.value) + ") é impossível";
        case ImpossibleActivePlates:
            return "a marca de placas ativas (" + v + ") é impossível";
        case ImpossibleTestNumber:
            return "o número do teste (" + Signed(e.value) + ") é impossível";
        case ImpossibleClosedMark:
            return "a marca de fechamento (" + v + ") é impossível";
        case ImpossibleSequence:
            return "o número de sequência (" + v + ") é impossível";
        case ImpossibleCalibration:
            return "a calibração da " + PlateWord(e.plate) + " é impossível";
        case UnterminatedPort:
            return "o texto da porta da " + PlateWord(e.plate) + " não termina";
        case UnterminatedUnit:
            return "o texto da unidade da " + PlateWord(e.plate) + " não termina";
        case MetadataTooLong:
            return "o campo " + std::string(MetadataFieldName(e.value)) + " passa de " + o +
                   " caracteres";
        case TooManyRecords:
            return "tem " + v + " amostras, mais do que um teste pode ter";
        case ClosedCountMismatch:
            return "foi fechado com " + v + " amostras, mas tem " + o;
        case TornAfterClose:
            return "foi fechado com " + v + " amostras, mas tem " + o + " bytes a mais";
        case PortTooLong:
            return "o texto da porta da " + PlateWord(e.plate) + " passa de " + v + " bytes";
        case UnitTooLong:
            return "o texto da unidade da " + PlateWord(e.plate) + " passa de " + v + " bytes";
        case NoRoomForMetadata:
            return "o diário é da versão " + v + " do formato, que não guarda esses dados";
        case DiskTooSlow:
            return "o disco não acompanha a gravação";
        case StillBeingWritten:
            return "ele ainda está sendo gravado";
        case ImpossibleNumber:
            return "o número " + Signed(e.value) + " é impossível";
        case FolderNotPrivate:
            return "A pasta dos diários " + e.path +
                   " não é só sua: outro usuário é dono dela ou pode gravar nela.\rNenhum teste é "
                   "guardado nem recuperado dali enquanto ela não for só sua.";
        case EmptyFile:
            return "o arquivo está vazio";
        case EndsInHeading:
            return "o arquivo termina antes do fim do cabeçalho";
        case TooManySamples:
            return "mais de " + v + " amostras, o máximo de um teste";
        case LineTooLong:
            return "a linha tem mais de " + Number(e.value / (1024 * 1024)) +
                   " MB, bem mais do que um teste";
        case OpenQuotes:
            return "aspas abertas até o fim do arquivo";
        case IncompleteLine:
            return "a linha está incompleta, sem o fim de linha";
        case NoCarriageReturn:
            return "a linha termina sem CR";
        case UnexpectedHeadingLine:
            return "esperada a linha \"" +
                   std::string(kHeadingShapes[e.value < kHeadingShapes.size() ? e.value : 0]) +
                   "\"";
        case EmptyLine:
            return "linha vazia";
        case NoFinalSemicolon:
            return "a linha não termina com \";\"";
        case FieldCount:
            return "uma amostra tem 5 campos (número e quatro cargas), esta linha tem " + v;
        case UnexpectedSample:
            return "esperada a amostra " + v + ", encontrado " + Shown(e.text);
        case NotALoad:
            return "a carga da " + PlateWord(e.plate) + " (" + Shown(e.text) +
                   ") não é um número com três decimais";
        case SeparatorChanged:
            return "a carga da " + PlateWord(e.plate) + " tem \"" + static_cast<char>(e.value) +
                   "\" como separador decimal, as linhas anteriores \"" +
                   static_cast<char>(e.otherValue) + "\"";
        case ControlCharacter:
            return "caractere de controle " + HexByte(e.value);
        case NotWindows1252:
            return "o byte " + HexByte(e.value) + " não é um caractere do Windows-1252";
    }
    return {};
}

// The step of a settings save that failed.
const char* SettingsStep(FileOperation operation) {
    switch (operation) {
        case FileOperation::SettingsCreateFolder:
            return "criar a pasta";
        case FileOperation::SettingsLock:
            return "bloquear o arquivo";
        case FileOperation::SettingsReadCurrent:
            return "ler o arquivo atual";
        case FileOperation::SettingsCreateTemporary:
            return "criar o arquivo temporário";
        case FileOperation::SettingsWriteTemporary:
            return "escrever o arquivo temporário";
        case FileOperation::SettingsSetPermissions:
            return "ajustar as permissões do arquivo temporário";
        case FileOperation::SettingsSyncTemporary:
            return "descarregar o arquivo temporário no disco";
        case FileOperation::SettingsCloseTemporary:
            return "fechar o arquivo temporário";
        case FileOperation::SettingsReplace:
            return "substituir o arquivo";
        case FileOperation::SettingsSyncFolder:
            return "descarregar a pasta no disco";
        default:
            return nullptr;
    }
}

}  // namespace

std::string FileErrorText(const FileError& e) {
    const std::string reason = Reason(e);
    if (e.kind == FileErrorKind::FolderNotPrivate) {
        return reason;  // a whole sentence, whatever was being done
    }
    if (const char* step = SettingsStep(e.operation)) {
        return "Não foi possível gravar as configurações em \"" + e.path + "\" (" + step +
               "): " + reason;
    }
    const std::string where = e.path.empty() ? "" : " (" + e.path + ")";
    switch (e.operation) {
        case FileOperation::JournalCreate:
            return "O diário do teste não foi criado: " + reason + where + ".";
        case FileOperation::JournalWrite:
            return "O diário do teste parou: " + reason + where + ".";
        case FileOperation::JournalFinish:
            return "O diário do teste não foi fechado: " + reason + where + ".";
        case FileOperation::JournalSetTestNumber:
            return "O número do teste não foi guardado no diário " + e.path + ": " + reason + ".";
        case FileOperation::JournalSetMetadata:
            return "Os dados do teste não foram guardados no diário " + e.path + ": " + reason +
                   ".";
        case FileOperation::JournalCloseLeftOpen:
            return "O diário " + e.path + " não foi fechado: " + reason + ".";
        case FileOperation::JournalRead:
            return "O diário " + e.path + " não pode ser lido: " + reason + ".";
        case FileOperation::TestFileRead:
            return e.kind == FileErrorKind::System
                       ? "O arquivo " + e.path + " não pode ser lido: " + reason + "."
                       : "Linha " + std::to_string(e.line) + ": " + reason + " (arquivo " + e.path +
                             ").";
        case FileOperation::TestFileWrite:
            return "Não foi possível gravar o arquivo " + e.path + ": " + reason;
        default:
            return reason;
    }
}

}  // namespace kelvaro
