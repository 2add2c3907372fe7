#include "scripted_dialogs.h"

namespace zb::ui {

bool ScriptedDialogService::Message(QWidget*, MessageKind kind, const QString& text) {
    shown.append({kind, text, {}});
    if (kind != MessageKind::Confirm) return true;
    return confirm_answers.isEmpty() ? true : confirm_answers.takeFirst();
}

bool ScriptedDialogService::Offer(QWidget*, const QString& text, const QString& offer) {
    shown.append({MessageKind::Warning, text, offer});
    return !offer_answers.isEmpty() && offer_answers.takeFirst();
}

QString ScriptedDialogService::OpenFile(QWidget*, const QString&, const QString&, const QString&) {
    return file_answers.isEmpty() ? QString() : file_answers.takeFirst();
}

QString ScriptedDialogService::ChooseFolder(QWidget*, const QString&, const QString&) {
    return file_answers.isEmpty() ? QString() : file_answers.takeFirst();
}

QString ScriptedDialogService::SaveFile(QWidget*, const QString&, const QString&, const QString&) {
    return file_answers.isEmpty() ? QString() : file_answers.takeFirst();
}

}  // namespace zb::ui
