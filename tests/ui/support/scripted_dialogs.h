// A DialogService for tests and benchmarks: records every message and answers from a
// script, so that no modal box ever waits for a click. GUI thread only.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "ui/common/dialog_service.h"

namespace zb::ui {

class ScriptedDialogService : public DialogService {
public:
    struct Shown {
        MessageKind kind;
        QString text;
        QString offer;  // Offer's button
    };
    bool Message(QWidget* parent, MessageKind kind, const QString& text) override;
    bool Offer(QWidget* parent, const QString& text, const QString& offer) override;
    QString OpenFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;
    QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
    QString SaveFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;

    // Answers for Confirm boxes, taken in order; true (Yes) when the script is empty.
    QList<bool> confirm_answers;
    // Answers for Offer boxes, taken in order; false (OK) when the script is empty.
    QList<bool> offer_answers;
    // Answers for file, folder and save choosers, taken in order; "" (cancel) when empty.
    QStringList file_answers;
    QList<Shown> shown;
};

}  // namespace zb::ui
