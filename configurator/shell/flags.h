// The flags of MERIDEX's language buttons, drawn with QPainter: no image files.
//
// English shows a simplified Union flag, French the tricolour, German
// black-red-gold, Portuguese the Brazilian flag, Swedish the Nordic cross and
// Russian white-blue-red. Each comes in two variants: the normal one (the flag
// with a thin dark edge) and the highlighted one for the chosen language (a
// thick bright frame with a soft glow around it). When a language file has
// replaced the German texts, the German flag carries a small white page with
// text lines in its lower right corner, so that the user sees the German texts
// are not the built-in ones.
//
// The flag is drawn in 3:2 proportion, centred in the pixmap, with a margin all
// round for the frame and the glow; normal and highlighted pixmaps of the same
// size have the flag at the same place, so a button does not jump when its
// flag is highlighted.

#pragma once

#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

// The flag of a language column as a pixmap of `size` logical pixels
// (physical pixels = size * devicePixelRatio). A column out of range gives a
// grey field. `alternativeGerman` only affects the German flag.
QPixmap FlagPixmap(Column column, bool highlighted, bool alternativeGerman, QSize size,
                   qreal devicePixelRatio = 1.0);

// Where FlagPixmap draws the flag itself within a pixmap of `size`.
QRect FlagRect(QSize size);

// The name of a language in that language ("Deutsch", "Русский"), for the
// accessible names of the flag buttons; empty for a column out of range.
QString NativeLanguageName(Column column);

}  // namespace mbus::meridex
