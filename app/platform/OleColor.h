#pragma once
// OLE colour numbers (0x00BBGGRR, or bit 31 set = system colour index) to and from Qt colours.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace platform {

// A system colour index follows the given palette (the desktop scheme); an ordinary number is RGB.
QColor oleToColor(int32_t ole, const QPalette &palette);
// Always an ordinary RGB number, never a system colour.
int32_t colorToOle(const QColor &color);
bool isSystemColor(int32_t ole);

}  // namespace platform
