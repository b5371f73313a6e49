// Whether a folder may be trusted with what the station reads back from it: the user's own,
// and nobody else may write in it.
#pragma once

#include <string>

namespace kelvaro {

// The user's own folder that nobody else can write in; not a link to one.
bool PrivateFolder(const std::string& folder);

}  // namespace kelvaro
