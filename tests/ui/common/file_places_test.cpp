// Where the file choosers start before a path is remembered.
#include <QTemporaryDir>

#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include "ui/common/file_places.h"

namespace {

TEST(FilePlacesTest, ChooserStartsWhereAFileCanBeMadeElseInDocuments) {
    const QTemporaryDir writable;
    ASSERT_TRUE(writable.isValid());
    const QString documents = QStringLiteral("/home/user/Documents");
    for (const auto& [current, start] : std::initializer_list<std::pair<QString, QString>>{
             {writable.path(), writable.path()},
             {writable.filePath(QStringLiteral("gone")), documents},
#ifdef Q_OS_LINUX
             // Passes the permission check even for root, yet takes no files.
             {QStringLiteral("/proc"), documents},
#endif
         })
        EXPECT_EQ(zb::ui::ChooserStartFolder(current, documents), start) << current.toStdString();
}

}  // namespace
