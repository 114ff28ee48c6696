#pragma once
// The product's fixed texts and addresses, shared by the About box, the help commands and the
// splash window.

#include <QString>

namespace product {

inline constexpr char Title[] = "Quirewell";
inline constexpr char VersionLine[] = "Quirewell 2.0 Build 9";
inline constexpr char SupportAddress[] = "support@quirewell.example";
inline constexpr char Website[] = "https://quirewell.example";
inline constexpr char Copyright[] = "Copyright \u00A9 2026 Quirewell Software. All rights reserved.";

// Opens a new message to the support address with the product name as its subject.
inline QString mailTarget()
{
    return QStringLiteral("mailto:") + QLatin1String(SupportAddress) + QStringLiteral("?subject=")
           + QLatin1String(Title);
}

}  // namespace product
