// The column options: what each button does to the two lists and what the caller reads back.
#include <QAbstractButton>
#include <QListWidget>

#include <memory>

#include <gtest/gtest.h>

#include "ui/common/column_catalogue.h"
#include "ui/config/options_form.h"

namespace {

using namespace zb::ui;

class OptionsFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<Toptions_form>();
        for (const int id : {kColDevname, kColDevtype}) form_->AddSelected(id);
        for (const int id :
             {kColBaud, kColParity, kColDatabit, kColStopbit, kColInterface, kColParentAddr})
            form_->AddUnselected(id);
        form_->show();
        unselect_ = form_->findChild<QListWidget*>(QStringLiteral("m_unselectlist"));
        select_ = form_->findChild<QListWidget*>(QStringLiteral("m_selectlist"));
    }
    void Click(const char* name) {
        form_->findChild<QAbstractButton*>(QLatin1String(name))->click();
    }
    std::vector<int> Selected() const {
        std::vector<int> ids;
        for (int i = 0; i < form_->SelectedCount(); ++i) ids.push_back(form_->SelectedAt(i));
        return ids;
    }
    std::vector<int> Unselected() const {
        std::vector<int> ids;
        for (int i = 0; i < form_->UnselectedCount(); ++i) ids.push_back(form_->UnselectedAt(i));
        return ids;
    }

    std::unique_ptr<Toptions_form> form_;
    QListWidget* unselect_ = nullptr;
    QListWidget* select_ = nullptr;
};

TEST_F(OptionsFormTest, MovesBetweenTheListsAppendAtTheEnd) {
    Click("m_selone");  // nothing highlighted
    Click("m_delone");
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevname, kColDevtype}));

    unselect_->setCurrentRow(3);  // the fourth of six
    Click("m_selone");
    EXPECT_EQ(select_->item(2)->text(), "Stop bit");
    EXPECT_EQ(Unselected(),
              (std::vector<int>{kColBaud, kColParity, kColDatabit, kColInterface, kColParentAddr}));
    EXPECT_TRUE(unselect_->selectedItems().isEmpty());

    select_->setCurrentRow(0);
    Click("m_delone");
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevtype, kColStopbit}));
    EXPECT_EQ(Unselected().back(), kColDevname);

    Click("m_selall");
    EXPECT_EQ(Selected(),
              (std::vector<int>{kColDevtype, kColStopbit, kColBaud, kColParity, kColDatabit,
                                kColInterface, kColParentAddr, kColDevname}));
    EXPECT_EQ(unselect_->count(), 0);
    Click("m_delall");
    EXPECT_TRUE(Selected().empty());
    EXPECT_EQ(Unselected().front(), kColDevtype);
    EXPECT_EQ(unselect_->count(), 8);
}

TEST_F(OptionsFormTest, UpAndDownMoveWithinTheSelectedList) {
    select_->setCurrentRow(0);
    Click("SpeedButton1");  // up on the first
    select_->setCurrentRow(1);
    Click("SpeedButton2");  // down on the last
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevname, kColDevtype}));

    Click("SpeedButton1");
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevtype, kColDevname}));
    EXPECT_EQ(select_->item(0)->text(), "Device type");
    EXPECT_TRUE(select_->item(0)->isSelected());
    EXPECT_EQ(form_->focusWidget(), select_);
    Click("SpeedButton2");
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevname, kColDevtype}));
    EXPECT_TRUE(select_->item(1)->isSelected());
}

TEST_F(OptionsFormTest, DefaultRestoresTheCatalogueSplit) {
    Click("m_default");
    EXPECT_EQ(Selected(), (std::vector<int>{kColDevname, kColDevtype, kColTopology, kColMode,
                                            kColPanid, kColLocalNode, kColChannel, kColFwVersion}));
    EXPECT_EQ(Unselected(),
              (std::vector<int>{kColBaud, kColParity, kColDatabit, kColStopbit, kColInterface,
                                kColParentAddr, kColShortAddr, kColOutpower, kColSecurity}));
    EXPECT_EQ(select_->item(7)->text(), "F/W version");
    EXPECT_EQ(unselect_->count(), 9);
}

}  // namespace
