// The operator's words for a file that could not be read or written: every text the settings,
// the journal and the test files give is made here from their FileError, and only here.
#pragma once

#include <string>

#include "settings/FileError.h"

namespace kelvaro {

// What went wrong, led by what was being done: "O diário PATH não pode ser lido: disco cheio.",
// "Linha 12: linha vazia (arquivo PATH).", "Não foi possível gravar o arquivo PATH: ...".
std::string FileErrorText(const FileError& error);

}  // namespace kelvaro
