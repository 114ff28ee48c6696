#include "FileNames.h"

#include "ComTypes.h"

#include <string_view>

namespace platform {

namespace {

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

bool isEscapedByte(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

}  // namespace

QString pathToText(const QByteArray &bytes)
{
    const std::u16string text = comrt::FileNameToUtf16(view(bytes));
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

QByteArray pathFromText(const QString &text)
{
    const std::string bytes = comrt::FileNameFromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size())));
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QString pathToDisplay(const QByteArray &bytes)
{
    QString text = pathToText(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Escaped bytes are lone low surrogates; a real character never leaves one unpaired.
        if (isEscapedByte(text.at(i).unicode()) && !(i > 0 && text.at(i - 1).isHighSurrogate()))
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

bool isValidUtf8(const QByteArray &bytes)
{
    const QString text = pathToText(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isEscapedByte(text.at(i).unicode()) && !(i > 0 && text.at(i - 1).isHighSurrogate()))
            return false;
    }
    return true;
}

namespace {

template<typename Text>
PageFileType pageFileTypeOfExtension(Text ext)
{
    if (ext.compare(QLatin1StringView("tif"), Qt::CaseInsensitive) == 0
        || ext.compare(QLatin1StringView("tiff"), Qt::CaseInsensitive) == 0)
        return PageFileType::Tiff;
    if (ext.compare(QLatin1StringView("pdf"), Qt::CaseInsensitive) == 0)
        return PageFileType::Pdf;
    return PageFileType::Other;
}

}  // namespace

PageFileType pageFileTypeOf(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? PageFileType::Other : pageFileTypeOfExtension(name.mid(dot + 1));
}

PageFileType pageFileTypeOf(const QByteArray &name)
{
    // Bytes beyond ASCII never match the ASCII extensions, so a Latin-1 view of the name is exact.
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? PageFileType::Other
                   : pageFileTypeOfExtension(QLatin1StringView(name.constData() + dot + 1, name.size() - dot - 1));
}

}  // namespace platform
