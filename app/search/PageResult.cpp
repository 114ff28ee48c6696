#include "PageResult.h"

namespace search {

QString pageResultReason(CounterKind kind, int32_t code)
{
    switch (code) {
    case kCannotOpen:
        return QStringLiteral("Cannot open the file");
    case kWrongSignature:
        return kind == CounterKind::Tiff ? QStringLiteral("Not a TIFF file") : QStringLiteral("Not a PDF file");
    case kDamaged:
        return QStringLiteral("Damaged beyond repair");
    case kNeedsPassword:
        return QStringLiteral("Needs a password");
    case kGaveUp:
        return QStringLiteral("Gave up after 10 s");
    case kCounterMissing:
        return QStringLiteral("The page counter is missing");
    case kCallFailed:
        return QStringLiteral("The page counter failed");
    case 0:
        // The TIFF counter answers 0 when the signature is right but libtiff cannot read the file.
        return kind == CounterKind::Tiff ? QStringLiteral("The file could not be read as a TIFF") : QString();
    default:
        if (code < 0)
            return QStringLiteral("The page counter failed (code %1)").arg(code);
        return QString();
    }
}

}  // namespace search
