// The about box (Tabout_form): product title, version and build, legal notice.
// Lives for one run of the about command. GUI thread only.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QShowEvent;

namespace zb::ui {

class Tabout_form final : public QDialog {
    Q_OBJECT
public:
    explicit Tabout_form(QWidget* parent = nullptr);

    // "1.0 Build 12013010".
    static QString VersionText();

protected:
    void showEvent(QShowEvent* event) override;  // FormShow

private:
    QLabel* Image1 = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_right = nullptr;
    QPushButton* Button1 = nullptr;  // "OK"
};

}  // namespace zb::ui
