// System errors in the operator's words.
#include "settings/SystemErrorText.h"

#include <cerrno>
#include <cstring>

#include "settings/RegularFile.h"

namespace kelvaro {

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

}  // namespace kelvaro
