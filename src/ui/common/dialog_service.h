// Modal message boxes and file choosers, passed to every window that needs them.
//
// Windows never create message boxes themselves: they ask a DialogService, so that tests
// can script the answers (tests/ui/support/scripted_dialogs.h) and nothing blocks on a
// modal box. GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace zb::ui {

enum class MessageKind {
    Warning,      // caption "Warning", one "OK" button
    Information,  // caption "Information", one "OK" button
    Confirm,      // caption "Confirm", buttons "&Yes" and "&No"
};

class DialogService {
public:
    virtual ~DialogService() = default;
    // Shows a modal box placed at the issuing window's left edge plus a third of its width
    // and its top edge plus a third of its height. Returns true for "&Yes" (Confirm) or
    // "OK"; false for "&No" or a box closed otherwise.
    virtual bool Message(QWidget* parent, MessageKind kind, const QString& text) = 0;
    // A Warning box, placed as Message places it, with the button `offer` beside "OK".
    // Returns true when `offer` was clicked.
    virtual bool Offer(QWidget* parent, const QString& text, const QString& offer) = 0;
    // A file to open; an empty string when cancelled.
    virtual QString OpenFile(QWidget* parent, const QString& caption, const QString& start,
                             const QString& filter) = 0;
    // A folder; an empty string when cancelled.
    virtual QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) = 0;
    // A file to write to; an empty string when cancelled. An existing file is offered
    // without asking to replace it: the caller adds to it.
    virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& start,
                             const QString& filter) = 0;
};

// The real boxes and choosers.
class QtDialogService : public DialogService {
public:
    bool Message(QWidget* parent, MessageKind kind, const QString& text) override;
    bool Offer(QWidget* parent, const QString& text, const QString& offer) override;
    QString OpenFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;
    QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
    QString SaveFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;
};

}  // namespace zb::ui
