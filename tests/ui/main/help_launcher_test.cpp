// Help > Help's choice between the help file in the current folder, the installed one and the
// installed HTML pages, over files laid out in a temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ui/main/help_launcher.h"

namespace {

using zb::ui::HelpAction;

bool MakeFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

struct HelpRow {
    bool current_chm;
    bool installed_chm;
    bool html;
    bool build_html;
    bool handler;
    HelpAction action;
    const char* opened;  // "current", "installed", "html" or ""
    bool offered;        // the build tree's pages come with the answer
};

TEST(HelpLauncher, ChoosesWhatTheSystemCanOpen) {
    const HelpRow rows[] = {
        {true, true, true, false, true, HelpAction::kOpenChm, "current", false},
        {false, true, true, false, true, HelpAction::kOpenChm, "installed", false},
        {true, true, true, true, false, HelpAction::kOpenHtml, "html", false},
        {false, false, true, false, true, HelpAction::kOpenHtml, "html", false},
        {false, true, false, false, false, HelpAction::kNoChmHandler, "installed", false},
        {false, true, false, true, false, HelpAction::kNoChmHandler, "installed", true},
        {false, false, false, false, true, HelpAction::kNotFound, "", false},
        {false, false, false, true, true, HelpAction::kNotFound, "", true},
    };
    for (const HelpRow& row : rows) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString current = root.filePath(QStringLiteral("work"));
        const QString program = root.filePath(QStringLiteral("prefix/bin"));
        ASSERT_TRUE(QDir().mkpath(current) && QDir().mkpath(program));
        zb::ui::HelpPlaces places = zb::ui::HelpPlacesFor(current, program);
        // Every place lies inside the temporary folder: the program's folder is its own.
        for (const QString& place :
             {places.current_chm, places.installed_chm, places.installed_html}) {
            ASSERT_TRUE(place.startsWith(root.path())) << place.toStdString();
        }
        places.build_html = root.filePath(QStringLiteral("build/index.html"));
        ASSERT_TRUE(!row.current_chm || MakeFile(places.current_chm));
        ASSERT_TRUE(!row.installed_chm || MakeFile(places.installed_chm));
        ASSERT_TRUE(!row.html || MakeFile(places.installed_html));
        ASSERT_TRUE(!row.build_html || MakeFile(places.build_html));

        const zb::ui::HelpChoice choice =
            zb::ui::ChooseHelp(places, [&](const QString&) { return row.handler; });
        const QString opened = QString::fromLatin1(row.opened);
        const QString expected = opened == QStringLiteral("current")     ? places.current_chm
                                 : opened == QStringLiteral("installed") ? places.installed_chm
                                 : opened == QStringLiteral("html")      ? places.installed_html
                                                                         : QString();
        EXPECT_EQ(choice.action, row.action) << row.opened;
        EXPECT_EQ(choice.path, expected) << row.opened;
        EXPECT_EQ(choice.html, row.offered ? places.build_html : QString()) << row.opened;
    }
}

TEST(HelpLauncher, FindsADesktopEntryForTheType) {
    QTemporaryDir apps;
    ASSERT_TRUE(apps.isValid());
    const QStringList types = {QStringLiteral("application/vnd.ms-htmlhelp"),
                               QStringLiteral("application/x-chm")};
    QFile browser(apps.filePath(QStringLiteral("browser.desktop")));
    ASSERT_TRUE(browser.open(QIODevice::WriteOnly));
    browser.write("[Desktop Entry]\nName=Browser\nMimeType=text/html;application/xhtml+xml;\n");
    browser.close();
    EXPECT_FALSE(zb::ui::DesktopEntryOpens({apps.path()}, types));

    ASSERT_TRUE(QDir().mkpath(apps.filePath(QStringLiteral("kde"))));
    QFile viewer(apps.filePath(QStringLiteral("kde/viewer.desktop")));
    ASSERT_TRUE(viewer.open(QIODevice::WriteOnly));
    viewer.write("[Desktop Entry]\nName=Viewer\nMimeType=application/x-chm;\n");
    viewer.close();
    EXPECT_TRUE(zb::ui::DesktopEntryOpens({apps.path()}, types));
}

}  // namespace
