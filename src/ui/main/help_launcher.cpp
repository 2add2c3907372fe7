#include "ui/main/help_launcher.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace zb::ui {

const QString kHelpFileName = QStringLiteral("qdlradio.chm");

HelpPlaces HelpPlacesFor(const QString& current_folder, const QString& program_folder) {
    const QDir program(program_folder);
    HelpPlaces places;
    places.current_chm = QDir(current_folder).absoluteFilePath(kHelpFileName);
    // The build gives the install folders relative to the program's folder.
    places.installed_chm = QDir::cleanPath(
        program.absoluteFilePath(QStringLiteral(ZB_HELP_CHM_FOLDER "/") + kHelpFileName));
    places.installed_html = QDir::cleanPath(
        program.absoluteFilePath(QStringLiteral(ZB_HELP_HTML_FOLDER "/index.html")));
#ifdef ZB_HELP_BUILD_HTML
    places.build_html = QStringLiteral(ZB_HELP_BUILD_HTML "/index.html");
#endif
    return places;
}

HelpChoice ChooseHelp(const HelpPlaces& places,
                      const std::function<bool(const QString&)>& opens_chm) {
    QString chm;
    if (QFileInfo(places.current_chm).isFile()) {
        chm = places.current_chm;
    } else if (QFileInfo(places.installed_chm).isFile()) {
        chm = places.installed_chm;
    }
    if (!chm.isEmpty() && opens_chm(chm)) return {HelpAction::kOpenChm, chm, {}};
    if (QFileInfo(places.installed_html).isFile()) {
        return {HelpAction::kOpenHtml, places.installed_html, {}};
    }
    const QString html = !places.build_html.isEmpty() && QFileInfo(places.build_html).isFile()
                             ? places.build_html
                             : QString();
    if (!chm.isEmpty()) return {HelpAction::kNoChmHandler, chm, html};
    return {HelpAction::kNotFound, {}, html};
}

QString HelpMissingText(const HelpChoice& choice, const HelpPlaces& places) {
    const auto folder = [](const QString& file) {
        return QDir::toNativeSeparators(QFileInfo(file).absolutePath());
    };
    // Paths go on lines of their own: a message box wraps a long one there.
    QString text =
        choice.action == HelpAction::kNotFound
            ? QStringLiteral(
                  "File not found.\n%1 is in neither the current folder nor the "
                  "installed one:\n%2\n%3")
                  .arg(kHelpFileName, folder(places.current_chm), folder(places.installed_chm))
            : QStringLiteral("No program on this system opens the help file %1.")
                  .arg(QDir::toNativeSeparators(choice.path));
    if (choice.html.isEmpty()) {
        text += QStringLiteral("\nNo HTML pages of the help are installed in:\n%1")
                    .arg(folder(places.installed_html));
    } else {
        text += QStringLiteral("\nThe help's HTML pages are in:\n%1")
                    .arg(QDir::toNativeSeparators(choice.html));
    }
    return text;
}

bool DesktopEntryOpens(const QStringList& application_folders, const QStringList& mime_types) {
    for (const QString& folder : application_folders) {
        QDirIterator entries(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            QFile file(entries.next());
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
            QTextStream in(&file);
            QString line;
            while (in.readLineInto(&line)) {
                if (!line.startsWith(QStringLiteral("MimeType="))) continue;
                const QStringList listed = line.mid(9).split(QLatin1Char(';'), Qt::SkipEmptyParts);
                for (const QString& type : mime_types) {
                    if (listed.contains(type.trimmed())) return true;
                }
            }
        }
    }
    return false;
}

}  // namespace zb::ui
