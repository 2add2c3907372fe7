// Widths that fit their texts: the fixed pixel widths of the windows were chosen for a small
// font, so every column and label that must show a text whole is widened to fit it in the
// font it is drawn with, never narrowed below its own width.
#pragma once

#include <QFontMetrics>
#include <QStringList>

namespace zb::ui {

// The widest of `texts` plus `padding`, or `minimum` when that is wider.
int FitWidth(const QFontMetrics& metrics, const QStringList& texts, int minimum, int padding);

}  // namespace zb::ui
