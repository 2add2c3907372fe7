// The job window against virtual modems on real pseudo-terminals.
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <system_error>

#include <gtest/gtest.h>

#include "scripted_dialogs.h"
#include "ui/work/work_form.h"
#include "work_test_support.h"

namespace worktest {
namespace {

using zb::ui::TShape;
using zb::ui::Twork_form;

const QColor kGrey(128, 128, 128);
const QColor kRed(255, 0, 0);

template <typename T>
T* Child(const Twork_form& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

void ClickX(Twork_form& form) {
    QTest::mouseClick(Child<QPushButton>(form, "btClose"), Qt::LeftButton);
}

bool IsDarkRed(const Twork_form& form, int row) {
    const auto& model = Model(form);
    return model.data(model.index(row, 3), Qt::ForegroundRole).value<QColor>() == QColor(128, 0, 0);
}

bool BarIsFull(const Twork_form& form, int row) {
    const zb::ProgressBarState bar = Model(form).BarAt(row);
    return bar.max > 0 && bar.position == bar.max;
}

// Good modems, a silent one and a port with no device: one row per port in COM order, the
// failures dark red with full bars, and the window closes by itself, centred on its owner
// while it was up.
TEST(WorkForm, ReadJobShowsEachPortAndClosesByItself) {
    auto sim = Ports().StartModems(3, 1);
    sim->add_fault(2, zbsim::Fault::Of(zbsim::FaultKind::Silent));
    Ports().link_missing(4);
    zb::PortTable table = TableWith({4, 3, 2, 1});
    zb::ui::ScriptedDialogService dialogs;
    QWidget owner;
    owner.setGeometry(100, 80, 900, 640);
    Twork_form form(dialogs, &owner);
    form.LoadPorts(table);
    form.SetPortCount(4);

    // The Messages cell of COM1 as drawn: texts may be skipped, never shown out of order.
    QStringList shown;
    QObject::connect(&Model(form), &QAbstractItemModel::dataChanged, &form, [&] {
        if (shown.isEmpty() || shown.back() != Cell(form, 0, 3)) shown.append(Cell(form, 0, 3));
    });
    QPoint position;
    ExecWithin(form, [&] { position = form.pos(); });

    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(position, zb::ui::CentredTopLeft(owner.frameGeometry(), form.frameSize()));
    EXPECT_EQ(Child<QLabel>(form, "m_count")->text(), "4");
    ASSERT_EQ(Model(form).rowCount(), 4);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(Cell(form, row, 0), QString("COM%1").arg(row + 1));
    for (int row : {0, 2}) {
        EXPECT_EQ(Cell(form, row, 3), "Get device's settings");
        EXPECT_FALSE(IsDarkRed(form, row));
        EXPECT_EQ(Model(form).BarAt(row).position, 20u);
    }
    shown.removeAll("Preparing...");  // while other rows changed
    EXPECT_TRUE(shown == QStringList({"Inital serial port", "Get device's settings"}) ||
                shown == QStringList({"Get device's settings"}))
        << shown.join(", ").toStdString();
    EXPECT_EQ(zb::TextOf(Rec(table, 1).devname), "SIM-1");
    EXPECT_EQ(Cell(form, 1, 3), "Connection fail");
    EXPECT_EQ(Cell(form, 3, 3), "Open port fail");
    for (int row : {1, 3}) EXPECT_TRUE(IsDarkRed(form, row) && BarIsFull(form, row)) << row;
    EXPECT_EQ(form.FailCount(), 2u);
    EXPECT_EQ(form.ApplyFailCount(), 0u);
    for (int com : {1, 2, 3, 4}) EXPECT_EQ(Rec(table, com).progress_bar, nullptr);  // released
}

// X, Esc and a close request during a read job leave the window up; the job runs to its
// end and the window then closes by itself.
TEST(WorkForm, XDuringAJobOnlyAsksTheJobToStop) {
    auto sim = Ports().StartModems(1, 10);
    sim->add_fault(10, zbsim::Fault::Paused(zbsim::FaultKind::Gap, 20));  // a job of some 400 ms
    zb::PortTable table = TableWith({10});
    zb::ui::ScriptedDialogService dialogs;
    Twork_form form(dialogs);
    form.LoadPorts(table);
    form.SetPortCount(1);

    bool pressed = false;
    bool stayed = false;
    ExecWithin(form, [&] {
        if (pressed || !form.IsRunning()) return;
        pressed = true;
        ClickX(form);
        QTest::keyClick(&form, Qt::Key_Escape);
        stayed = !form.close() && form.isVisible() && form.IsRunning();
    });

    EXPECT_TRUE(pressed && stayed);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Cell(form, 0, 3), "Get device's settings");  // a read job ignores X
    EXPECT_EQ(form.FailCount(), 0u);
}

// The first port to synchronise turns the window red; X stops the transfer at the next
// block, and the window is grey again when it closes.
TEST(WorkForm, UpgradeTurnsTheWindowRedAndXStopsIt) {
    auto sim = Ports().StartModems(1, 20, /*pacing=*/true);  // a 16 KiB image takes some 1.5 s
    const std::string image = ScratchPath("image.rom");
    const std::size_t size = WriteImage(image, std::size_t{16} * 1024);
    zb::PortTable table = TableWith({20});
    Rec(table, 20).upgrade_pending = true;
    zb::ui::ScriptedDialogService dialogs;
    Twork_form form(dialogs);
    form.LoadPorts(table);
    form.SetPortCount(1);
    form.SetFirmwareFile(QString::fromStdString(image));

    auto* strip = Child<TShape>(form, "Shape2");
    auto* body = Child<TShape>(form, "Shape1");
    const QColor face = body->Fill();
    bool red = false;
    ExecWithin(form, [&] {
        if (red || strip->Fill() != kRed) return;
        red = body->Fill() == QColor(Qt::white) && body->Outline() == kRed;
        ClickX(form);
    });

    EXPECT_TRUE(red);
    EXPECT_EQ(Cell(form, 0, 3), "User abort");
    EXPECT_TRUE(IsDarkRed(form, 0) && BarIsFull(form, 0));
    const QString acked = Cell(form, 0, 1);  // "done / size"
    EXPECT_TRUE(acked.endsWith(QString(" / %1").arg(size))) << acked.toStdString();
    EXPECT_LT(acked.section(' ', 0, 0).toULongLong(), size);
    EXPECT_EQ(form.FailCount(), 1u);
    EXPECT_TRUE(Rec(table, 20).upgrade_wait);
    EXPECT_EQ(strip->Fill(), kGrey);
    EXPECT_EQ(body->Fill(), face);
    EXPECT_EQ(body->Outline(), kGrey);
}

// The configuration flow: a read job, then an apply job in the same window over the links
// the read left open. Each showing lists its rows afresh and counts from 0.
TEST(WorkForm, ShowingTwiceRunsTwoIndependentJobs) {
    auto sim = Ports().StartModems(2, 30);
    sim->add_fault(31, zbsim::Fault::Refusing("ZP"));
    zb::PortTable table = TableWith({30, 31});
    zb::ui::ScriptedDialogService dialogs;
    Twork_form form(dialogs);
    form.LoadPorts(table);
    form.SetPortCount(2);
    ExecWithin(form);
    EXPECT_EQ(form.FailCount(), 1u);
    EXPECT_EQ(Cell(form, 1, 3), "Get settings fail");
    EXPECT_TRUE(IsDarkRed(form, 1));

    sim->clear_faults(31);
    for (int com : {30, 31}) Rec(table, com).apply_pending = true;
    zb::SetText(Rec(table, 30).devname, "NEW-30");
    form.LoadPorts(table);
    form.SetPortCount(2);
    ExecWithin(form);

    EXPECT_EQ(form.FailCount(), 0u);
    EXPECT_EQ(form.ApplyFailCount(), 0u);
    for (int row : {0, 1}) {
        EXPECT_EQ(Cell(form, row, 3), "Apply device's settings");
        EXPECT_FALSE(IsDarkRed(form, row));
        EXPECT_EQ(Model(form).BarAt(row).position, 16u);
    }
    EXPECT_EQ(sim->snapshot(30).settings.devname, "NEW-30");
}

// Threads that cannot be created: a warning with the system's code, the rows as listed,
// no job and no outcomes, and the window stays until X.
TEST(WorkForm, StartFailureWarnsAndWaitsForX) {
    zb::PortTable table = TableWith({40, 7});
    zb::ui::ScriptedDialogService dialogs;
    Twork_form form(
        dialogs, [](zb::JobEngine&) { throw std::system_error(EAGAIN, std::system_category()); });
    form.LoadPorts(table);
    form.SetPortCount(2);

    QStringList cells;
    bool waited = false;
    ExecWithin(form, [&] {
        if (waited || dialogs.shown.isEmpty()) return;
        waited = form.isVisible() && !form.IsRunning();
        for (int row = 0; row < Model(form).rowCount(); ++row)
            for (int column = 0; column < 4; ++column) cells.append(Cell(form, row, column));
        ClickX(form);
    });

    EXPECT_TRUE(waited);
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, zb::ui::MessageKind::Warning);
    EXPECT_EQ(dialogs.shown[0].text, QString("Win32 API error. (code = %1)").arg(EAGAIN));
    EXPECT_EQ(cells,
              QStringList({"COM7", "-", "", "Preparing...", "COM40", "-", "", "Preparing..."}));
    EXPECT_EQ(form.FailCount(), 0u);
    // A job that never started has no outcomes, so no report says its ports were ok.
    EXPECT_TRUE(form.Outcomes().empty());
}

// Every text a column can show fits it whole, and the window is wide enough for the columns.
TEST(WorkForm, ColumnsFitTheirLongestTexts) {
    zb::ui::ScriptedDialogService dialogs;
    Twork_form form(dialogs);
    const auto* view = form.findChild<QTableView*>(QStringLiteral("m_listview"));
    ASSERT_NE(view, nullptr);
    int columns = 0;
    for (int column = 0; column < zb::ui::kColCount; ++column) {
        for (const QString& text : zb::ui::StatusSamples(column))
            EXPECT_GT(view->columnWidth(column), view->fontMetrics().horizontalAdvance(text))
                << text.toStdString();
        columns += view->columnWidth(column);
    }
    EXPECT_TRUE(zb::ui::StatusSamples(zb::ui::kColMessages).contains("Waiting upgrade firmware"));
    EXPECT_GE(form.width(), 481);
    EXPECT_LT(columns, view->width());
}

}  // namespace
}  // namespace worktest
