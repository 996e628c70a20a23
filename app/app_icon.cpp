#include "app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource lives in a static library: its registration is called for.
static void InitIconResource() {
    Q_INIT_RESOURCE(app_icon);
}

namespace zarv::app {

QIcon AppIcon() {
    InitIconResource();
    QSvgRenderer svg(QStringLiteral(":/icons/zarv.svg"));
    QIcon icon;
    if (!svg.isValid()) return icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace zarv::app
