#include "ui/common/text_fit.h"

#include <algorithm>

namespace zb::ui {

int FitWidth(const QFontMetrics& metrics, const QStringList& texts, int minimum, int padding) {
    int widest = 0;
    for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
    return std::max(minimum, widest + padding);
}

}  // namespace zb::ui
