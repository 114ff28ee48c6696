#pragma once
// Window geometry is designed in twips (1,440 to the inch, 15 to a pixel at 96 DPI).

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace platform {

// Pixels for a length in twips on the primary screen (logical DPI; 96 when no screen is known).
inline int twipsToPixels(int twips)
{
    qreal dpi = 96.0;
    if (auto *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInch();
    return int(std::lround(twips * dpi / 1440.0));
}

inline int pixelsToTwips(int pixels)
{
    qreal dpi = 96.0;
    if (auto *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInch();
    return int(std::lround(pixels * 1440.0 / dpi));
}

}  // namespace platform
