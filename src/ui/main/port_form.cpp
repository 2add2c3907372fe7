#include "ui/main/port_form.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/main/device_list.h"

namespace zb::ui {

Tport_form::Tport_form(SystemPortLister list_ports, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      list_ports_(std::move(list_ports)),
      port_present_(NoPortsSeen()) {
    setObjectName(QStringLiteral("Tport_form"));
    // Wider than the classic 261 x 194, so that a port's description fits after its name.
    setFixedSize(340, 194);

    auto* group = new QGroupBox(QStringLiteral("COM Port"), this);
    lb_comport = new QListWidget(group);
    lb_comport->setObjectName(QStringLiteral("lb_comport"));
    lb_comport->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lb_comport->setUniformItemSizes(true);
    auto* group_layout = new QVBoxLayout(group);
    group_layout->addWidget(lb_comport);

    Button1 = new QPushButton(QStringLiteral("Connect"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this, &Tport_form::OKClick);
    connect(Button2, &QPushButton::clicked, this, &Tport_form::reject);
}

void Tport_form::ScanSerialPorts() {
    descriptions_.clear();
    for (const zb::MachinePort& port : zb::ScanPorts(list_ports_)) {
        MarkSeen(port_present_, port.com);
        if (!port.description.empty())
            descriptions_[port.com] = QString::fromStdString(port.description);
    }
    MergePresence(port_present_, rows_);
}

void Tport_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    ScanSerialPorts();
    lb_comport->clear();
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        if (rows_[k].port_state != 0) continue;
        const auto com = static_cast<std::int32_t>(k + 1);
        QString text = ComCaption(com);
        if (const auto it = descriptions_.find(com); it != descriptions_.end())
            text += QStringLiteral("   ") + it->second;
        lb_comport->addItem(text);
    }
    lb_comport->setFocus();
    if (lb_comport->count() > 0) lb_comport->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void Tport_form::OKClick() {
    added_count_ = 0;
    for (int i = 0; i < lb_comport->count(); ++i) {
        const QListWidgetItem* item = lb_comport->item(i);
        if (!item->isSelected()) continue;
        const auto com = ComOfCaption(item->text());
        const auto k = com ? zb::RowOfCom(*com) : std::nullopt;
        if (!k) continue;
        zb::AddPort(rows_[*k], static_cast<std::uint32_t>(*com));
        ++added_count_;
    }
    accept();
}

}  // namespace zb::ui
