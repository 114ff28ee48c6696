#pragma once
// Small (16 x 16) file icons for the result grid, looked up once per file extension.

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <memory>

// Where icons come from; tests replace it to count lookups.
class FileIconLookup
{
public:
    virtual ~FileIconLookup() = default;
    // The icon of files with this extension (lower case, without the dot; never empty). A null
    // icon means "nothing known".
    virtual QIcon iconForExtension(const QString &extension) = 0;
};

// The desktop's icons: the MIME type the extension names, then its icon in the icon theme
// (specific name, then generic name), then the file-icon provider.
class DesktopFileIconLookup : public FileIconLookup
{
public:
    QIcon iconForExtension(const QString &extension) override;
};

class FileIcons
{
public:
    // lookup null: the desktop's icons. devicePixelRatio 0: the application's (its sharpest screen).
    explicit FileIcons(std::shared_ptr<FileIconLookup> lookup = nullptr, qreal devicePixelRatio = 0);

    // The small icon for the file at fullPath. Files with the same extension (case ignored) share
    // one lookup; a name without extension always gets the generic file icon, as does an
    // extension nothing is known about. Never null. 16 x 16 logical pixels, drawn at the device
    // pixel ratio, so icons stay sharp on a scaled screen.
    QPixmap DrawFileIcon(const QString &fullPath);

    // Text after the last "." of the name; empty when there is none.
    static QString extensionOf(const QString &fileName);
    static QPixmap genericFileIcon(qreal devicePixelRatio = 1);
    qreal devicePixelRatio() const { return m_dpr; }

    static constexpr int IconSize = 16;

private:
    std::shared_ptr<FileIconLookup> m_lookup;
    qreal m_dpr;
    QHash<QString, QPixmap> m_cache;
};
