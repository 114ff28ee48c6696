#include "PageResult.h"

namespace search {

QString pageResultReason(CounterKind kind, int32_t code)
{
    switch (code) {
    case kCounterMissing:
        return QStringLiteral("The page counter is missing");
    case kCallFailed:
        return QStringLiteral("The page counter failed");
    default:
        break;
    }
    const char *reason =
        pagecount::reasonText(kind == CounterKind::Tiff ? pagecount::Format::Tiff : pagecount::Format::Pdf, code);
    if (reason)
        return QString::fromLatin1(reason);
    if (code < 0)
        return QStringLiteral("The page counter failed (code %1)").arg(code);
    return QString();
}

}  // namespace search
