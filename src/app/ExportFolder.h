// Where exported tests go: "Exportados" beside the program, or a per-user folder when the
// program's folder cannot take it (an installed, read-only location).
#pragma once

#include <QString>

namespace kelvaro {

inline constexpr const char* kExportFolderName = "Exportados";

// Makes sure the export folder exists (creating missing parents) and returns it: first
// `programFolder`/Exportados; if that cannot be created or written, the user's documents
// folder + "/Kelvaro/Exportados"; failing that, the home folder. An existing folder is left
// as it is.
QString PrepareExportFolder(const QString& programFolder);

}  // namespace kelvaro
