// Feeds arbitrary bytes to the settings reader and writer. Whatever the file holds, reading it
// must give a record or a clear error, never a crash; and the file must survive a round trip:
// bytes read are written back unchanged, and a value written reads back as written while every
// other key keeps its value.
#include "AppSettings.h"
#include "ProfileDocument.h"
#include "SettingsFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

struct Key {
    const char *section;
    const char *key;
    int buffer;
};

// Every key the program reads, with its buffer size.
constexpr Key kKeys[] = {
    {"Grid", "Style", 3},         {"Grid", "Show/Hide", 3},          {"Grid", "ForeColor", 18},
    {"Grid", "ForeColorSel", 18}, {"Grid", "BackColor", 18},         {"Grid", "BackColorSel", 18},
    {"Grid", "GridColor", 18},    {"Grid", "BackPicture", 500},      {"ColumnSetting", "Visibility", 500},
    {"General", "StartupFolder", 500}, {"General", "ExportLocation", 500},
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    platform::ProfileDocument doc;
    doc.setContents(bytes);
    check(doc.contents() == bytes);

    for (const Key &k : kKeys)
        check(doc.value(QString::fromLatin1(k.section), QString::fromLatin1(k.key), QString(), k.buffer).size()
              < k.buffer);

    // A write changes its own key and nothing else.
    const QString written = QStringLiteral("C:/some folder/x.bmp");
    QString before[std::size(kKeys)];
    for (size_t i = 0; i < std::size(kKeys); ++i)
        before[i] = doc.value(QString::fromLatin1(kKeys[i].section), QString::fromLatin1(kKeys[i].key),
                              QStringLiteral("\x01missing"), 500);
    if (doc.setValue(QStringLiteral("Grid"), QStringLiteral("BackPicture"), written)) {
        for (size_t i = 0; i < std::size(kKeys); ++i) {
            const QString now = doc.value(QString::fromLatin1(kKeys[i].section),
                                          QString::fromLatin1(kKeys[i].key), QStringLiteral("\x01missing"), 500);
            if (i == 7)
                check(now == written);
            else
                check(now == before[i]);
        }
    }

    // The whole reader over the same bytes as a file.
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.ini"));
    {
        QFile f(path);
        check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    modGlobal::SettingsRecord record;
    QString error;
    if (!modGlobal::ReadSettingsFile(path, record, &error))
        check(!error.isEmpty());
    return 0;
}
