#pragma once

#include <QColor>

// The one grey of the views (the well's fill and placeholder, Back, the message field's
// border): the system grey, the same in light and dark palettes.
inline const QColor kSystemGray(142, 142, 147);
