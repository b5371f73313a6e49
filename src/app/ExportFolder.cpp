#include "app/ExportFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kelvaro {

namespace {

bool UsableFolder(const QString& path) {
    if (!QDir().mkpath(path)) {
        return false;
    }
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

}  // namespace

QString PrepareExportFolder(const QString& programFolder) {
    const QString besideProgram =
        QDir(programFolder).filePath(QString::fromLatin1(kExportFolderName));
    if (UsableFolder(besideProgram)) {
        return besideProgram;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty()) {
        const QString perUser =
            QDir(documents).filePath(QStringLiteral("Kelvaro/") + kExportFolderName);
        if (UsableFolder(perUser)) {
            return perUser;
        }
    }
    return QDir::homePath();
}

}  // namespace kelvaro
