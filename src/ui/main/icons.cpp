#include "ui/main/icons.h"

#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are registered by hand, from the global namespace.
static void InitMainResources() {
    Q_INIT_RESOURCE(zbui_main);
}

namespace zb::ui {

QPixmap SvgPixmap(const char* name, QSize size) {
    static const bool registered = (InitMainResources(), true);
    (void)registered;
    // Rendered here rather than through the SVG icon plug-in, which a deployment may lack.
    QSvgRenderer renderer(QStringLiteral(":/zbui_main/") + QLatin1String(name));
    if (!renderer.isValid()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon SvgIcon(const char* name, QSize size) {
    const QPixmap pixmap = SvgPixmap(name, size);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

}  // namespace zb::ui
