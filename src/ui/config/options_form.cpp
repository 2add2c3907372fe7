#include "ui/config/options_form.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

#include "ui/common/column_catalogue.h"
#include "ui/common/string_table.h"

namespace zb::ui {
namespace {

bool ValidIndex(const std::vector<int>& list, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

// The first highlighted entry, scanning from the top; -1 when none is.
int HighlightedRow(const QListWidget& list) {
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->isSelected()) return i;
    return -1;
}

void FillList(QListWidget* list, const std::vector<int>& ids) {
    list->clear();
    for (const int id : ids) list->addItem(LoadStr(id));
    list->setCurrentRow(-1);
}

}  // namespace

void ColumnChoice::SelectOne(int index) {
    if (!ValidIndex(unselected, index)) return;
    selected.push_back(unselected[static_cast<std::size_t>(index)]);
    unselected.erase(unselected.begin() + index);
}

void ColumnChoice::SelectAll() {
    selected.insert(selected.end(), unselected.begin(), unselected.end());
    unselected.clear();
}

void ColumnChoice::RemoveOne(int index) {
    if (!ValidIndex(selected, index)) return;
    unselected.push_back(selected[static_cast<std::size_t>(index)]);
    selected.erase(selected.begin() + index);
}

void ColumnChoice::RemoveAll() {
    unselected.insert(unselected.end(), selected.begin(), selected.end());
    selected.clear();
}

int ColumnChoice::MoveUp(int index) {
    if (!ValidIndex(selected, index) || index == 0) return index;
    const auto i = static_cast<std::size_t>(index);
    std::swap(selected[i], selected[i - 1]);
    return index - 1;
}

int ColumnChoice::MoveDown(int index) {
    if (!ValidIndex(selected, index) || static_cast<std::size_t>(index) + 1 == selected.size())
        return index;
    const auto i = static_cast<std::size_t>(index);
    std::swap(selected[i], selected[i + 1]);
    return index + 1;
}

void ColumnChoice::Defaults() {
    ColumnLists lists = DefaultColumnLists();
    selected = std::move(lists.visible);
    unselected = std::move(lists.hidden);
}

Toptions_form::Toptions_form(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Toptions_form"));
    setWindowTitle(QStringLiteral("Options"));

    const auto list = [this](const char* name) {
        auto* box = new QListWidget(this);
        box->setObjectName(QLatin1String(name));
        box->setSelectionMode(QAbstractItemView::SingleSelection);
        // Room for the longest heading and for all 17 optional columns without scrolling.
        const QFontMetrics metrics = box->fontMetrics();
        box->setFixedSize(metrics.horizontalAdvance(QStringLiteral("Local node ID")) + 48,
                          (metrics.height() + 2) * 17 + 8);
        return box;
    };
    const auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QLatin1String(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    const auto arrow = [this](const char* name, Qt::ArrowType type) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setArrowType(type);
        return b;
    };

    m_unselectlist = list("m_unselectlist");
    m_selectlist = list("m_selectlist");
    m_selone = button("m_selone", ">");
    m_selall = button("m_selall", ">>");
    m_delone = button("m_delone", "<");
    m_delall = button("m_delall", "<<");
    SpeedButton1 = arrow("SpeedButton1", Qt::UpArrow);
    SpeedButton2 = arrow("SpeedButton2", Qt::DownArrow);
    m_default = button("m_default", "Default");
    bt_ok = button("bt_ok", "OK");
    bt_ok->setDefault(true);
    bt_cancel = button("bt_cancel", "Cancel");

    auto* unselect_group = new QGroupBox(QStringLiteral("Unselect"), this);
    auto* unselect_layout = new QVBoxLayout(unselect_group);
    unselect_layout->addWidget(m_unselectlist);

    auto* select_group = new QGroupBox(QStringLiteral("Selected"), this);
    auto* arrows = new QVBoxLayout;
    arrows->addStretch();
    arrows->addWidget(SpeedButton1);
    arrows->addWidget(SpeedButton2);
    arrows->addStretch();
    auto* select_layout = new QHBoxLayout(select_group);
    select_layout->addWidget(m_selectlist);
    select_layout->addLayout(arrows);

    auto* moves = new QVBoxLayout;
    moves->addStretch();
    for (QPushButton* b : {m_selone, m_selall, m_delone, m_delall}) moves->addWidget(b);
    moves->addStretch();

    auto* lists = new QHBoxLayout;
    lists->addWidget(unselect_group);
    lists->addLayout(moves);
    lists->addWidget(select_group);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_default);
    buttons->addStretch();
    buttons->addWidget(bt_ok);
    buttons->addWidget(bt_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_selone, &QPushButton::clicked, this, &Toptions_form::bt_seloneclick);
    connect(m_selall, &QPushButton::clicked, this, &Toptions_form::bt_selallclick);
    connect(m_delone, &QPushButton::clicked, this, &Toptions_form::bt_deloneclick);
    connect(m_delall, &QPushButton::clicked, this, &Toptions_form::bt_delallclick);
    connect(SpeedButton1, &QToolButton::clicked, this, &Toptions_form::bt_upclick);
    connect(SpeedButton2, &QToolButton::clicked, this, &Toptions_form::bt_downclick);
    connect(m_default, &QPushButton::clicked, this, &Toptions_form::bt_defaultclick);
    connect(bt_ok, &QPushButton::clicked, this, &Toptions_form::accept);
    connect(bt_cancel, &QPushButton::clicked, this, &Toptions_form::reject);
}

void Toptions_form::AddSelected(int id) {
    choice_.selected.push_back(id);
}

void Toptions_form::AddUnselected(int id) {
    choice_.unselected.push_back(id);
}

int Toptions_form::SelectedCount() const {
    return static_cast<int>(choice_.selected.size());
}

int Toptions_form::SelectedAt(int index) const {
    return choice_.selected.at(static_cast<std::size_t>(index));
}

int Toptions_form::UnselectedCount() const {
    return static_cast<int>(choice_.unselected.size());
}

int Toptions_form::UnselectedAt(int index) const {
    return choice_.unselected.at(static_cast<std::size_t>(index));
}

void Toptions_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    Refill();
}

void Toptions_form::Refill() {
    FillList(m_unselectlist, choice_.unselected);
    FillList(m_selectlist, choice_.selected);
}

void Toptions_form::bt_seloneclick() {
    const int row = HighlightedRow(*m_unselectlist);
    if (row < 0) return;
    choice_.SelectOne(row);
    Refill();
}

void Toptions_form::bt_selallclick() {
    choice_.SelectAll();
    Refill();
}

void Toptions_form::bt_deloneclick() {
    const int row = HighlightedRow(*m_selectlist);
    if (row < 0) return;
    choice_.RemoveOne(row);
    Refill();
}

void Toptions_form::bt_delallclick() {
    choice_.RemoveAll();
    Refill();
}

void Toptions_form::bt_upclick() {
    const int row = HighlightedRow(*m_selectlist);
    if (row <= 0) return;
    const int moved = choice_.MoveUp(row);
    Refill();
    m_selectlist->setCurrentRow(moved);
    m_selectlist->setFocus();
}

void Toptions_form::bt_downclick() {
    const int row = HighlightedRow(*m_selectlist);
    if (row < 0 || row + 1 >= m_selectlist->count()) return;
    const int moved = choice_.MoveDown(row);
    Refill();
    m_selectlist->setCurrentRow(moved);
    m_selectlist->setFocus();
}

void Toptions_form::bt_defaultclick() {
    choice_.Defaults();
    Refill();
}

}  // namespace zb::ui
