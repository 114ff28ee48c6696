#pragma once
// Test data made at test time: TIFFs written with libtiff, PDFs written with qpdf; and the build's
// registration store, through which the tests reach the real page counters.

#include <QByteArray>
#include <QString>

namespace testdocs {

// A little-endian TIFF with this many 8 x 8 pages. The path is raw bytes (any name works).
bool writeTiff(const QByteArray &path, int pages);
// A PDF with this many empty pages.
bool writePdf(const QByteArray &path, int pages);
bool writeBytes(const QByteArray &path, const QByteArray &content);

// <build>/bin: QW_BIN_DIR, else the bin folder beside the test executable's folder.
QString binDir();
// Points the runtime at the build's registration store; false (with a reason) when it is missing.
bool useBuildRegistry(QString *why = nullptr);
// Points the runtime at a new store at copyPath in which only the TIFF counter is registered.
bool useRegistryWithoutPdfCounter(const QString &copyPath);

}  // namespace testdocs
