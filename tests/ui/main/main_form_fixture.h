// The main window on its own, with virtual modems on a private port map and scripted message
// boxes, and the steps the window tests take through it.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "scripted_dialogs.h"
#include "ui/main/main_form.h"
#include "ui/main/port_form.h"
#include "ui_test_support.h"

namespace zbtest {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ =
            std::make_unique<zb::ui::TForm1>(dialogs_, [this] { return ListedModemPorts(sims_); });
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        view_ = form_->findChild<QTableView*>(QStringLiteral("m_listview"));
        status_ = form_->findChild<QLabel*>(QStringLiteral("m_status_panel"));
        ASSERT_NE(view_, nullptr);
        ASSERT_NE(status_, nullptr);
    }

    void TearDown() override { form_.reset(); }

    zbsim::Simulator& Modems(int count, int first_com) {
        sims_.push_back(ports_.StartModems(count, first_com));
        return *sims_.back();
    }

    // Runs the add-port command: picks `coms` from the offered list (all of them with the
    // keyboard when `coms` is empty) and presses Connect, or Cancel. Returns the offered list.
    QStringList AddPorts(const std::vector<int>& coms, bool connect = true) {
        QStringList offered;
        ModalDriver<zb::ui::Tport_form> driver([&](zb::ui::Tport_form* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Add Connection Port");
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("lb_comport"));
            for (int i = 0; i < list->count(); ++i) offered.append(list->item(i)->text());
            if (!connect) {
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button2")),
                                  Qt::LeftButton);
            } else if (coms.empty()) {
                QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(list, Qt::Key_Return);
            } else {
                for (int i = 0; i < list->count(); ++i) {
                    const auto com = zb::ui::ComOfCaption(list->item(i)->text());
                    list->item(i)->setSelected(std::find(coms.begin(), coms.end(), *com) !=
                                               coms.end());
                }
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button1")),
                                  Qt::LeftButton);
            }
        });
        Key(Qt::Key_Insert);
        EXPECT_TRUE(driver.ran());
        return offered;
    }

    // A shortcut reaches the window only while it is the active one; a closed dialog may
    // leave no window active.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        QTest::keyClick(form_.get(), key, modifiers);
    }

    QStringList Row(int row) const {
        QStringList cells;
        for (int c = 0; c < view_->model()->columnCount(); ++c)
            cells.append(view_->model()->index(row, c).data().toString());
        return cells;
    }
    QStringList Captions() const {
        QStringList captions;
        for (int r = 0; r < view_->model()->rowCount(); ++r)
            captions.append(view_->model()->index(r, 0).data().toString());
        return captions;
    }

    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QRect rect = view_->visualRect(view_->model()->index(row, 1));
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, modifiers, rect.center());
    }

    QStringList Messages() const {
        QStringList texts;
        for (const auto& shown : dialogs_.shown) texts.append(shown.text);
        return texts;
    }

    zbtest::PortMap ports_;
    std::vector<std::unique_ptr<zbsim::Simulator>> sims_;
    zb::ui::ScriptedDialogService dialogs_;
    std::unique_ptr<zb::ui::TForm1> form_;
    QTableView* view_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace zbtest
