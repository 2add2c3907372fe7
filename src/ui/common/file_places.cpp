#include "ui/common/file_places.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace zb::ui {

std::string SystemPath(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

QString ChooserStartFolder(const QString& current, const QString& documents) {
    // Only making a file tells: on Windows the permission check passes folders whose
    // access lists refuse the user.
    QTemporaryFile probe(QDir(current).filePath(QStringLiteral(".zbconfig-probe-XXXXXX")));
    return QFileInfo(current).isDir() && probe.open() ? current : documents;
}

QString ChooserStartFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return ChooserStartFolder(
        QDir::currentPath(),
        !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath());
}

}  // namespace zb::ui
