// System errors (errno values) in the operator's words, in Portuguese and independent of the C
// locale, for every message that names why a file could not be read or written.
#pragma once

#include <string>

namespace kelvaro {

// "disco cheio", "permissão negada", "não é um arquivo comum" (kNotARegularFile), ...; an error
// without words of its own gives its number and the C library's text.
std::string SystemErrorText(int error);

}  // namespace kelvaro
