#include "WindowLayout.h"

#include "ProfileDocument.h"
#include "SettingsFile.h"

#include <optional>

namespace modGlobal {

namespace {

constexpr int kBuffer = 256;
constexpr int kColumns = 5;
constexpr int kMaxLength = 1000000;  // twips or pixels beyond any screen: a damaged value

std::optional<int> number(const platform::ProfileDocument &doc, const QString &key, int minimum, int maximum)
{
    bool ok = false;
    const int v = doc.value(WindowLayoutSection(), key, QString(), kBuffer).trimmed().toInt(&ok);
    if (!ok || v < minimum || v > maximum)
        return std::nullopt;
    return v;
}

}  // namespace

QString WindowLayoutSection()
{
    return QStringLiteral("Window");
}

WindowLayout ReadWindowLayout(const QString &path)
{
    WindowLayout layout;
    platform::ProfileDocument doc;
    if (!doc.load(path))
        return layout;
    const auto left = number(doc, QStringLiteral("Left"), -kMaxLength, kMaxLength);
    const auto top = number(doc, QStringLiteral("Top"), -kMaxLength, kMaxLength);
    const auto width = number(doc, QStringLiteral("Width"), 1, kMaxLength);
    const auto height = number(doc, QStringLiteral("Height"), 1, kMaxLength);
    if (left && top && width && height)
        layout.NormalGeometry = QRect(*left, *top, *width, *height);
    layout.Maximized = number(doc, QStringLiteral("Maximized"), 0, 1).value_or(0) == 1;
    layout.TreeWidth = number(doc, QStringLiteral("TreeWidth"), 0, kMaxLength).value_or(-1);

    const QStringList widths =
        doc.value(WindowLayoutSection(), QStringLiteral("ColumnWidths"), QString(), kBuffer).split(u',');
    QList<int> columns;
    for (const QString &w : widths) {
        bool ok = false;
        const int v = w.trimmed().toInt(&ok);
        if (!ok || v < 0 || v > kMaxLength)
            break;
        columns << v;
    }
    if (columns.size() == kColumns)
        layout.ColumnWidths = columns;

    const auto sortColumn = number(doc, QStringLiteral("SortColumn"), 0, kColumns - 1);
    const auto sortOrder = number(doc, QStringLiteral("SortOrder"), 1, 2);
    if (sortColumn && sortOrder) {
        layout.SortColumn = *sortColumn;
        layout.SortOrder = *sortOrder;
    }
    layout.AdvancedShown = number(doc, QStringLiteral("AdvancedOptions"), 0, 1).value_or(-1);
    return layout;
}

bool WriteWindowLayout(const QString &path, const WindowLayout &layout, QString *error)
{
    platform::ProfileDocument doc;
    if (!LoadForUpdate(path, doc, error))
        return false;
    QList<std::pair<QString, QString>> entries;
    if (!layout.NormalGeometry.isNull()) {
        const QRect &g = layout.NormalGeometry;
        entries << std::pair{QStringLiteral("Left"), QString::number(g.x())}
                << std::pair{QStringLiteral("Top"), QString::number(g.y())}
                << std::pair{QStringLiteral("Width"), QString::number(g.width())}
                << std::pair{QStringLiteral("Height"), QString::number(g.height())};
    }
    entries << std::pair{QStringLiteral("Maximized"), QString::number(layout.Maximized ? 1 : 0)};
    if (layout.TreeWidth >= 0)
        entries << std::pair{QStringLiteral("TreeWidth"), QString::number(layout.TreeWidth)};
    if (layout.ColumnWidths.size() == kColumns) {
        QStringList widths;
        for (int w : layout.ColumnWidths)
            widths << QString::number(w);
        entries << std::pair{QStringLiteral("ColumnWidths"), widths.join(u',')};
    }
    if (layout.SortColumn >= 0) {
        entries << std::pair{QStringLiteral("SortColumn"), QString::number(layout.SortColumn)}
                << std::pair{QStringLiteral("SortOrder"), QString::number(layout.SortOrder)};
    }
    if (layout.AdvancedShown >= 0)
        entries << std::pair{QStringLiteral("AdvancedOptions"), QString::number(layout.AdvancedShown)};
    for (const auto &[key, value] : entries)
        if (!doc.setValue(WindowLayoutSection(), key, value, error))
            return false;
    return doc.save(path, error);
}

}  // namespace modGlobal
