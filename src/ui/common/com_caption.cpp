#include "ui/common/com_caption.h"

namespace zb::ui {

QString ComCaption(std::int32_t com) {
    return QStringLiteral("COM") + QString::number(com);
}

}  // namespace zb::ui
