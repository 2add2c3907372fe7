#include <QMimeDatabase>
#include <QStandardPaths>

#include "ui/main/help_launcher.h"

namespace zb::ui {

bool SystemOpensChm(const QString& path) {
    // Desktops open a file with a program whose desktop entry lists the file's type. The
    // shared MIME data may name the type either way, or not know it.
    QStringList types = {QStringLiteral("application/vnd.ms-htmlhelp"),
                         QStringLiteral("application/x-chm")};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    types << type.name() << type.aliases();
    return DesktopEntryOpens(
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation), types);
}

}  // namespace zb::ui
