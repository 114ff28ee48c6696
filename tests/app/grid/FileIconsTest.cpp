#include "FileIcons.h"
#include "GuiTestEnvironment.h"

#include <QImage>
#include <QPainter>

namespace {

// Answers with a solid colour per extension and counts the questions.
class CountingLookup : public FileIconLookup
{
public:
    QIcon iconForExtension(const QString &extension) override
    {
        asked << extension;
        if (extension == QStringLiteral("unknown"))
            return {};
        QPixmap pm(32, 32);
        pm.fill(extension == QStringLiteral("pdf") ? Qt::red : Qt::green);
        return QIcon(pm);
    }
    QStringList asked;
};

QRgb centre(const QPixmap &pm)
{
    return pm.toImage().pixel(pm.width() / 2, pm.height() / 2) | 0xFF000000;
}

TEST(FileIcons, OneLookupPerExtensionWhateverItsCase)
{
    auto lookup = std::make_shared<CountingLookup>();
    FileIcons icons(lookup);
    const QPixmap a = icons.DrawFileIcon("/scans/a.pdf");
    const QPixmap b = icons.DrawFileIcon("/other/B.PDF");
    const QPixmap c = icons.DrawFileIcon("/scans/c.tif");
    EXPECT_EQ(lookup->asked, QStringList({"pdf", "tif"}));
    EXPECT_EQ(a.cacheKey(), b.cacheKey());  // one shared picture for the grid to store once
    EXPECT_EQ(a.size(), QSize(16, 16));
    EXPECT_EQ(centre(a), qRgb(255, 0, 0));
    EXPECT_EQ(centre(c), qRgb(0, 255, 0));
}

TEST(FileIcons, NoExtensionNeverGetsAnotherTypesIcon)
{
    auto lookup = std::make_shared<CountingLookup>();
    FileIcons icons(lookup);
    icons.DrawFileIcon("/scans/a.pdf");
    const QPixmap plain = icons.DrawFileIcon("/scans/README");
    const QPixmap dotted = icons.DrawFileIcon("/scans.d/notes.");
    EXPECT_EQ(lookup->asked, QStringList({"pdf"}));
    EXPECT_EQ(plain.cacheKey(), FileIcons::genericFileIcon().cacheKey());
    EXPECT_EQ(dotted.cacheKey(), FileIcons::genericFileIcon().cacheKey());
    EXPECT_FALSE(plain.isNull());
}

TEST(FileIcons, UnknownTypeGetsTheGenericIconAndIsAskedOnce)
{
    auto lookup = std::make_shared<CountingLookup>();
    FileIcons icons(lookup);
    EXPECT_EQ(icons.DrawFileIcon("x.unknown").cacheKey(), FileIcons::genericFileIcon().cacheKey());
    icons.DrawFileIcon("y.unknown");
    EXPECT_EQ(lookup->asked.size(), 1);
}

TEST(FileIcons, ExtensionIsTakenFromTheNameNotTheFolder)
{
    EXPECT_EQ(FileIcons::extensionOf("/a.b/file"), "");
    EXPECT_EQ(FileIcons::extensionOf("/a/scan.pdf.tif"), "tif");
    EXPECT_EQ(FileIcons::extensionOf(".bashrc"), "bashrc");
}

TEST(FileIcons, DesktopLookupAlwaysGivesASmallPicture)
{
    FileIcons icons;
    for (const char *path : {"/tmp/a.pdf", "/tmp/b.tif", "/tmp/c.zzzzqq", "/tmp/d"}) {
        const QPixmap pm = icons.DrawFileIcon(path);
        EXPECT_FALSE(pm.isNull()) << path;
        EXPECT_LE(pm.width(), 16 * pm.devicePixelRatio()) << path;
    }
}

}  // namespace

namespace {

// On a screen scaled by 2 the icons carry twice the pixels in the same 16 x 16 place, so they are
// drawn sharp, not stretched; the fallback sheet too.
TEST(FileIcons, DrawnAtTheDevicePixelRatio)
{
    auto lookup = std::make_shared<CountingLookup>();
    FileIcons icons(lookup, 2.0);
    for (const char *path : {"/scans/a.pdf", "/scans/README", "/scans/x.unknown"}) {
        const QPixmap pm = icons.DrawFileIcon(path);
        EXPECT_EQ(pm.devicePixelRatio(), 2.0) << path;
        EXPECT_EQ(pm.size(), QSize(32, 32)) << path;
        EXPECT_EQ(pm.deviceIndependentSize(), QSizeF(16, 16)) << path;
    }
    EXPECT_EQ(FileIcons(lookup, 1.0).DrawFileIcon("/scans/a.pdf").size(), QSize(16, 16));
}

}  // namespace
