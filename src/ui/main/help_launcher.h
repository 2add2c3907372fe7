// Where Help > Help finds the program's help and what it opens: the compiled help file
// qdlradio.chm from the current folder, else the copy installed with the program, each only
// when the system has a program for .chm files; else the installed HTML pages. Without any
// of them, a program run from its build tree offers the pages the build made. The choice is
// plain logic over folders, so a test can lay out the files; the window acts on the answer.
// The installed places are relative to the program's own folder, so a moved install (another
// prefix, the Windows folder) finds its help too.
// GUI thread (QMimeDatabase, QStandardPaths).
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

namespace zb::ui {

// "qdlradio.chm"
extern const QString kHelpFileName;

struct HelpPlaces {
    QString current_chm;     // qdlradio.chm in the current folder
    QString installed_chm;   // the copy installed with the program
    QString installed_html;  // the first page of the installed HTML help
    QString build_html;      // the first page of the HTML help in the build tree, if any
};

HelpPlaces HelpPlacesFor(const QString& current_folder, const QString& program_folder);

enum class HelpAction {
    kOpenChm,       // path: the help file to open
    kOpenHtml,      // path: the HTML page to open
    kNoChmHandler,  // path: a help file that nothing on the system opens; no installed pages
    kNotFound,      // neither the help file nor the installed HTML pages exist
};

struct HelpChoice {
    HelpAction action;
    QString path;
    QString html;  // kNoChmHandler, kNotFound: the build tree's first page, else empty
};

// opens_chm(path) tells whether the system has a program for the help file at path.
HelpChoice ChooseHelp(const HelpPlaces& places,
                      const std::function<bool(const QString&)>& opens_chm);

// The warning for kNoChmHandler and kNotFound: what is missing, where it was looked for,
// and where the HTML pages are, or that none are installed.
QString HelpMissingText(const HelpChoice& choice, const HelpPlaces& places);

// Whether a desktop entry (*.desktop) in one of the folders, or their subfolders, lists one
// of the MIME types in its MimeType key.
bool DesktopEntryOpens(const QStringList& application_folders, const QStringList& mime_types);

// Whether the system has a program that opens the .chm file at path: a desktop entry for its
// type on POSIX desktops, the file association on Windows. One file per platform.
bool SystemOpensChm(const QString& path);

}  // namespace zb::ui
