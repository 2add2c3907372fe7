#include "ui/common/dialog_service.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace zb::ui {

namespace {

// Not centred: a third of the way into the issuing window.
void PlaceBox(QMessageBox& box, const QWidget* parent) {
    if (parent == nullptr) return;
    const QRect frame = parent->frameGeometry();
    box.move(frame.left() + frame.width() / 3, frame.top() + frame.height() / 3);
}

}  // namespace

bool QtDialogService::Message(QWidget* parent, MessageKind kind, const QString& text) {
    QMessageBox box(parent);
    box.setText(text);
    QPushButton* yes = nullptr;
    switch (kind) {
        case MessageKind::Warning:
            box.setWindowTitle(QStringLiteral("Warning"));
            box.setIcon(QMessageBox::Warning);
            box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            break;
        case MessageKind::Information:
            box.setWindowTitle(QStringLiteral("Information"));
            box.setIcon(QMessageBox::Information);
            box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            break;
        case MessageKind::Confirm:
            box.setWindowTitle(QStringLiteral("Confirm"));
            box.setIcon(QMessageBox::Question);
            yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
            box.setDefaultButton(yes);
            box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
            break;
    }
    PlaceBox(box, parent);
    box.exec();
    if (kind == MessageKind::Confirm) return box.clickedButton() == yes;
    return box.clickedButton() != nullptr;
}

bool QtDialogService::Offer(QWidget* parent, const QString& text, const QString& offer) {
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(QStringLiteral("Warning"));
    box.setIcon(QMessageBox::Warning);
    QPushButton* offered = box.addButton(offer, QMessageBox::ActionRole);
    box.setDefaultButton(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
    PlaceBox(box, parent);
    box.exec();
    return box.clickedButton() == offered;
}

QString QtDialogService::OpenFile(QWidget* parent, const QString& caption, const QString& start,
                                  const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

QString QtDialogService::ChooseFolder(QWidget* parent, const QString& caption,
                                      const QString& start) {
    return QFileDialog::getExistingDirectory(parent, caption, start);
}

QString QtDialogService::SaveFile(QWidget* parent, const QString& caption, const QString& start,
                                  const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, start, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

}  // namespace zb::ui
