// The column options (Toptions_form): two lists of column ids, the columns the device list
// shows (in display order) and the ones it does not, moved between and within the lists by
// the dialog's buttons. The caller fills both lists before showing it and reads them back
// after OK.
//
// GUI thread only. ColumnChoice holds the two lists and their operations without widgets.
#pragma once

#include <QDialog>

#include <vector>

class QListWidget;
class QPushButton;
class QToolButton;

namespace zb::ui {

// The two lists and what the buttons do to them. Every operation with a failed
// precondition (an index out of range, the first entry moved up, ...) changes nothing.
struct ColumnChoice {
    std::vector<int> selected;    // shown, in display order
    std::vector<int> unselected;  // not shown

    void SelectOne(int index);  // ">": unselected[index] to the end of the selected list
    void SelectAll();           // ">>"
    void RemoveOne(int index);  // "<": selected[index] to the end of the unselected list
    void RemoveAll();           // "<<"
    // Up and down within the selected list; the entry's new index, or `index` unchanged.
    int MoveUp(int index);
    int MoveDown(int index);
    void Defaults();  // "Default": the catalogue's default split, in catalogue order
};

class Toptions_form final : public QDialog {
    Q_OBJECT
public:
    explicit Toptions_form(QWidget* parent = nullptr);

    void AddSelected(int id);
    void AddUnselected(int id);
    int SelectedCount() const;
    int SelectedAt(int index) const;
    int UnselectedCount() const;
    int UnselectedAt(int index) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refill();
    void bt_seloneclick();
    void bt_selallclick();
    void bt_deloneclick();
    void bt_delallclick();
    void bt_upclick();
    void bt_downclick();
    void bt_defaultclick();

    ColumnChoice choice_;

    QListWidget* m_unselectlist = nullptr;
    QListWidget* m_selectlist = nullptr;
    QPushButton* m_selone = nullptr;
    QPushButton* m_selall = nullptr;
    QPushButton* m_delone = nullptr;
    QPushButton* m_delall = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QPushButton* m_default = nullptr;
    QPushButton* bt_ok = nullptr;
    QPushButton* bt_cancel = nullptr;
};

}  // namespace zb::ui
