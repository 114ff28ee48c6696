#pragma once
// File names are bytes that need not be UTF-8. The text forms below keep such names usable:
// pathToText is lossless (each undecodable byte becomes the lone surrogate U+DC80..U+DCFF, the
// convention automation strings use across the page counters) and pathFromText gives the same
// bytes back; pathToDisplay replaces only the undecodable bytes with U+FFFD for showing.

#include <QByteArray>
#include <QString>

namespace platform {

QString pathToText(const QByteArray &bytes);
QByteArray pathFromText(const QString &text);
QString pathToDisplay(const QByteArray &bytes);
bool isValidUtf8(const QByteArray &bytes);

// Which page counter a file goes to, by the text after the last "." of its name: "tif" and
// "tiff" are TIFF, "pdf" is PDF, in any letter case; anything else is not counted.
enum class PageFileType { Other, Tiff, Pdf };
PageFileType pageFileTypeOf(QStringView name);
PageFileType pageFileTypeOf(const QByteArray &name);

}  // namespace platform
