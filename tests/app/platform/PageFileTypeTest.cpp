#include "FileNames.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

namespace {

using platform::PageFileType;

// The grid's selection totals judge the shown name, the search judges the name's bytes: both must
// send every file to the same counter.
TEST(PageFileType, NameAndBytesAgree)
{
    const struct {
        QByteArray name;
        PageFileType expected;
    } cases[] = {
        {"scan.tif", PageFileType::Tiff},     {"SCAN.TIFF", PageFileType::Tiff},
        {"a.b.TiF", PageFileType::Tiff},      {"doc.pdf", PageFileType::Pdf},
        {"doc.PdF", PageFileType::Pdf},       {".pdf", PageFileType::Pdf},
        {"tif", PageFileType::Other},         {"scan.tif.bak", PageFileType::Other},
        {"scan.tiff2", PageFileType::Other},  {"report.", PageFileType::Other},
        {"q\xff.pdf", PageFileType::Pdf},     {"q.p\xff" "df", PageFileType::Other},
        {"\xc3\xa9t\xc3\xa9.TIF", PageFileType::Tiff},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(platform::pageFileTypeOf(c.name), c.expected) << c.name.constData();
        EXPECT_EQ(platform::pageFileTypeOf(platform::pathToDisplay(c.name)), c.expected) << c.name.constData();
    }
}

}  // namespace
