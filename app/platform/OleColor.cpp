#include "OleColor.h"

namespace platform {

bool isSystemColor(int32_t ole)
{
    return (static_cast<uint32_t>(ole) & 0x80000000u) != 0;
}

QColor oleToColor(int32_t ole, const QPalette &palette)
{
    const uint32_t v = static_cast<uint32_t>(ole);
    if (!isSystemColor(ole))
        return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
    // The few Windows system colour indexes the program stores, mapped to the palette roles
    // that play the same part on this desktop.
    switch (v & 0xFF) {
    case 5: return palette.color(QPalette::Active, QPalette::Base);             // window
    case 8: return palette.color(QPalette::Active, QPalette::Text);             // window text
    case 13: return palette.color(QPalette::Active, QPalette::Highlight);       // highlight
    case 14: return palette.color(QPalette::Active, QPalette::HighlightedText); // highlight text
    case 15: return palette.color(QPalette::Active, QPalette::Button);          // button face
    case 16: return palette.color(QPalette::Active, QPalette::Mid);             // button shadow
    case 18: return palette.color(QPalette::Active, QPalette::ButtonText);      // button text
    case 20: return palette.color(QPalette::Active, QPalette::Light);           // 3-D highlight
    case 1: return palette.color(QPalette::Active, QPalette::Window);           // desktop
    default: return palette.color(QPalette::Active, QPalette::Window);
    }
}

int32_t colorToOle(const QColor &color)
{
    const QColor c = color.toRgb();
    return static_cast<int32_t>(uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16));
}

}  // namespace platform
