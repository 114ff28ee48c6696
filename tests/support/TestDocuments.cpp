#include "TestDocuments.h"

#include "ComRegistry.h"
#include "ComRuntime.h"
#include "PdfFixtures.h"

#include <tiffio.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace testdocs {

bool writeTiff(const QByteArray &path, int pages)
{
    TIFF *tif = TIFFOpen(path.constData(), "wl");
    if (!tif)
        return false;
    unsigned char row[8] = {0, 255, 0, 255, 0, 255, 0, 255};
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, p, pages);
        for (uint32_t y = 0; y < 8; ++y)
            if (TIFFWriteScanline(tif, row, y, 0) < 0) {
                TIFFClose(tif);
                return false;
            }
        if (!TIFFWriteDirectory(tif)) {
            TIFFClose(tif);
            return false;
        }
    }
    TIFFClose(tif);
    return true;
}

bool writePdf(const QByteArray &path, int pages)
{
    try {
        const std::string bytes = pdffix::qpdfDocument(pages);
        return writeBytes(path, QByteArray(bytes.data(), qsizetype(bytes.size())));
    } catch (const std::exception &) {
        return false;
    }
}

bool writeBytes(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && ok;
}

QString binDir()
{
    const QString fromEnvironment = qEnvironmentVariable("QW_BIN_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Test executables live in <build>/tests-bin, beside <build>/bin.
    return QDir::cleanPath(QString::fromStdString(comrt::ExecutableFolder()) + QStringLiteral("/../bin"));
}

bool useBuildRegistry(QString *why)
{
    const QString store = binDir() + QStringLiteral("/quirewell.reg");
    if (binDir().isEmpty() || !QFileInfo::exists(store)) {
        if (why)
            *why = QStringLiteral("no registration store at ") + store + QStringLiteral(" (is QW_BIN_DIR set and the build done?)");
        return false;
    }
    comrt::SetRegistryStorePath(store.toStdString());
    return true;
}

bool useRegistryWithoutPdfCounter(const QString &copyPath)
{
    // A store elsewhere holding only the TIFF counter; it records the library by its absolute
    // path, as registration does for a library outside the store's folder.
    QFile::remove(copyPath);
    comrt::SetRegistryStorePath(copyPath.toStdString());
    comrt::ServerLibrary tiff;
    return SUCCEEDED(tiff.open((binDir() + QStringLiteral("/libtallyfold.so")).toStdString()))
           && SUCCEEDED(tiff.registerServer());
}

}  // namespace testdocs
