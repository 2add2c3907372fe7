#include "ui/main/about_form.h"

#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/common/string_table.h"
#include "ui/main/icons.h"

namespace zb::ui {
namespace {

constexpr QSize kMinimumSize(321, 196);

}  // namespace

Tabout_form::Tabout_form(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Tabout_form"));
    setWindowTitle(QStringLiteral("About"));

    auto* group = new QGroupBox(this);
    Image1 = new QLabel(group);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(33, 37);
    Image1->setPixmap(SvgPixmap(kIconAbout, QSize(33, 37)));

    QFont font(QStringLiteral("Arial"));
    const auto make_label = [&](const char* name) {
        auto* label = new QLabel(group);
        label->setObjectName(QLatin1String(name));
        label->setFont(font);
        return label;
    };
    m_title = make_label("m_title");
    m_version = make_label("m_version");
    m_right = make_label("m_right");
    QFont small = font;
    small.setPointSize(8);
    m_right->setFont(small);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_title);
    texts->addWidget(m_version);
    texts->addWidget(m_right);
    texts->addStretch();
    auto* group_layout = new QHBoxLayout(group);
    group_layout->addWidget(Image1, 0, Qt::AlignTop);
    group_layout->addLayout(texts, 1);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tabout_form::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);

    // The texts are set when shown, but they are constant: measured now, each legal line
    // keeps a line of its own and the box is never smaller than its classic size.
    m_title->setText(LoadStr(IDS_TITLE));
    m_version->setText(VersionText());
    m_right->setText(LoadStr(IDS_LEGAL));
    const QSize hint = sizeHint();
    setFixedSize(std::max(kMinimumSize.width(), hint.width()),
                 std::max(kMinimumSize.height(), hint.height()));
}

QString Tabout_form::VersionText() {
    return LoadStr(IDS_VERSION) + QStringLiteral(" Build ") + LoadStr(IDS_BUILD);
}

void Tabout_form::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    m_title->setText(LoadStr(IDS_TITLE));
    m_version->setText(VersionText());
    m_right->setText(LoadStr(IDS_LEGAL));
}

}  // namespace zb::ui
