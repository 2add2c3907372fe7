#include "ui/main/icons.h"

// Resources of a static library are registered by hand, from the global namespace.
static void InitMainResources() {
    Q_INIT_RESOURCE(zbui_main);
}

namespace zb::ui {

QPixmap SvgPixmap(const char* name, QSize size) {
    static const bool registered = (InitMainResources(), true);
    (void)registered;
    const QPixmap picture(QStringLiteral(":/zbui_main/") + QLatin1String(name));
    if (picture.isNull()) return {};
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QIcon SvgIcon(const char* name, QSize size) {
    const QPixmap pixmap = SvgPixmap(name, size);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

}  // namespace zb::ui
