#include "SettingsFile.h"

#include "MessageBoxes.h"
#include "ProfileDocument.h"
#include "ProgramLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>

namespace modGlobal {

namespace {

QString g_programFolderOverride;

// Read buffers, terminator included: two digits for the flags, a signed 32-bit number for
// the colours, and paths (a whole Linux path, 4,096 bytes).
constexpr int kFlagBuffer = 3;
constexpr int kColorBuffer = 18;
constexpr int kTextBuffer = 4096 + 1;
constexpr int kMaxCountingLanes = 64;

const QString kGrid = QStringLiteral("Grid");
const QString kColumnSetting = QStringLiteral("ColumnSetting");
const QString kGeneral = QStringLiteral("General");

QString trimSpaces(const QString &text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b);
}

// Plain decimal integers only, with an optional sign: the program never writes anything else,
// and a hand edit such as "0x10" or "1.5" is better reported than guessed at.
bool convertInteger(const QString &section, const QString &key, const QString &text, qint64 minimum,
                    qint64 maximum, qint64 &out, QString *error)
{
    const auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("%1: key %2 in section [%3] holds \"%4\".").arg(what, key, section, text);
        return false;
    };
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    if (i == text.size())
        return fail(QStringLiteral("Type mismatch"));
    for (qsizetype j = i; j < text.size(); ++j)
        if (text[j] < u'0' || text[j] > u'9')
            return fail(QStringLiteral("Type mismatch"));
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum)
        return fail(QStringLiteral("Overflow"));
    out = value;
    return true;
}

}  // namespace

QString ProgramFolder()
{
    if (!g_programFolderOverride.isEmpty())
        return g_programFolderOverride;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Before the application object exists (or in a tool without one) ask the kernel.
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return QDir::currentPath();
    return QFile::decodeName(exe.parent_path().native().c_str());
}

void SetProgramFolderOverride(const QString &folder)
{
    g_programFolderOverride = folder;
}

QString ChooseSettingsFilePath(const SettingsPlace &place)
{
    if (!place.installed && place.programSideWritable)
        return place.programFolder + QStringLiteral("/Settings/Settings.ini");
    QString config = place.configHome;
    if (!QDir::isAbsolutePath(config))
        config = (place.home.isEmpty() ? QDir::homePath() : place.home) + QStringLiteral("/.config");
    return QDir::cleanPath(config) + QStringLiteral("/quirewell/Settings.ini");
}

QString SettingsFilePath()
{
    SettingsPlace place;
    place.programFolder = ProgramFolder();
    place.installed = comrt::RunsInstalledFrom(QFile::encodeName(place.programFolder).toStdString());
    // An existing Settings folder must be writable itself; otherwise the program folder must be,
    // for the first save to create it (anything else named Settings there makes that save fail
    // with its reason rather than move the user's settings elsewhere).
    const QFileInfo settings(place.programFolder + QStringLiteral("/Settings"));
    const QFileInfo target = settings.isDir() ? settings : QFileInfo(place.programFolder);
    place.programSideWritable = target.isDir() && target.isWritable();
    place.configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    place.home = qEnvironmentVariable("HOME");
    return ChooseSettingsFilePath(place);
}

bool ReadSettingsFile(const QString &path, SettingsRecord &into, QString *error)
{
    platform::ProfileDocument doc;
    QString loadError;
    if (!doc.load(path, &loadError)) {
        if (error)
            *error = loadError;
        return false;
    }
    const SettingsRecord d = SettingsRecord::defaults();
    const auto read = [&](const QString &section, const QString &key, const QString &def, int buffer) {
        return trimSpaces(doc.value(section, key, def, buffer));
    };
    const auto readByte = [&](const QString &key, uint8_t def, uint8_t &field) {
        qint64 v = 0;
        if (!convertInteger(kGrid, key, read(kGrid, key, QString::number(def), kFlagBuffer), 0, 255, v, error))
            return false;
        field = uint8_t(v);
        return true;
    };
    const auto readColor = [&](const QString &key, OleColor def, OleColor &field) {
        qint64 v = 0;
        if (!convertInteger(kGrid, key, read(kGrid, key, QString::number(def), kColorBuffer),
                            std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v, error))
            return false;
        field = OleColor(v);
        return true;
    };

    if (!readByte(QStringLiteral("Style"), d.GridStyle, into.GridStyle)
        || !readByte(QStringLiteral("Show/Hide"), d.ShowGrid, into.ShowGrid)
        || !readColor(QStringLiteral("ForeColor"), d.ForeColor, into.ForeColor)
        || !readColor(QStringLiteral("ForeColorSel"), d.ForeColorSel, into.ForeColorSel)
        || !readColor(QStringLiteral("BackColor"), d.BackColor, into.BackColor)
        || !readColor(QStringLiteral("BackColorSel"), d.BackColorSel, into.BackColorSel)
        || !readColor(QStringLiteral("GridColor"), d.GridColor, into.GridColor))
        return false;
    into.BackPicture = read(kGrid, QStringLiteral("BackPicture"), QString(), kTextBuffer);
    const QString visibility = read(kColumnSetting, QStringLiteral("Visibility"), QString(), kTextBuffer);
    into.ColumnVisibility = visibility.isEmpty() ? QStringList() : visibility.split(u',');
    into.StartupFolder = read(kGeneral, QStringLiteral("StartupFolder"), QString(), kTextBuffer);
    into.ExportLocation = read(kGeneral, QStringLiteral("ExportLocation"), QString(), kTextBuffer);
    // A value that is not a lane count means automatic rather than a refused start.
    qint64 lanes = 0;
    if (!convertInteger(kGeneral, QStringLiteral("CountingLanes"),
                        read(kGeneral, QStringLiteral("CountingLanes"), QStringLiteral("0"), kFlagBuffer + 1), 0,
                        kMaxCountingLanes, lanes, nullptr))
        lanes = 0;
    into.CountingLanes = int(lanes);
    // Only 0 turns the cache off; anything unreadable leaves it on, as a missing key does.
    qint64 cache = 1;
    if (!convertInteger(kGeneral, QStringLiteral("PageCountCache"),
                        read(kGeneral, QStringLiteral("PageCountCache"), QStringLiteral("1"), kFlagBuffer + 1), 0, 1,
                        cache, nullptr))
        cache = 1;
    into.PageCountCache = cache != 0;
    return true;
}

bool LoadForUpdate(const QString &path, platform::ProfileDocument &doc, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    return doc.load(path, error);
}

bool WriteSettingsFile(const QString &path, const SettingsRecord &s, QString *error)
{
    platform::ProfileDocument doc;
    if (!LoadForUpdate(path, doc, error))
        return false;
    // This order decides where new keys land in a file that lacks them.
    const std::pair<const QString *, std::pair<QString, QString>> entries[] = {
        {&kGrid, {QStringLiteral("BackPicture"), s.BackPicture}},
        {&kGrid, {QStringLiteral("Style"), QString::number(s.GridStyle)}},
        {&kGrid, {QStringLiteral("Show/Hide"), QString::number(s.ShowGrid)}},
        {&kGrid, {QStringLiteral("ForeColor"), QString::number(s.ForeColor)}},
        {&kGrid, {QStringLiteral("ForeColorSel"), QString::number(s.ForeColorSel)}},
        {&kGrid, {QStringLiteral("BackColor"), QString::number(s.BackColor)}},
        {&kGrid, {QStringLiteral("BackColorSel"), QString::number(s.BackColorSel)}},
        {&kGrid, {QStringLiteral("GridColor"), QString::number(s.GridColor)}},
        {&kColumnSetting, {QStringLiteral("Visibility"), s.ColumnVisibility.join(u',')}},
        {&kGeneral, {QStringLiteral("StartupFolder"), s.StartupFolder}},
        {&kGeneral, {QStringLiteral("ExportLocation"), s.ExportLocation}},
        {&kGeneral, {QStringLiteral("CountingLanes"), QString::number(s.CountingLanes)}},
    };
    for (const auto &[section, kv] : entries)
        if (!doc.setValue(*section, kv.first, kv.second, error))
            return false;
    return doc.save(path, error);
}

bool LoadSettings()
{
    QString error;
    if (ReadSettingsFile(SettingsFilePath(), AppSettings, &error))
        return true;
    platform::MessageBoxes::message(nullptr,
                                    QStringLiteral("Error occured while reading setting parameters.\r\n\r\n") + error,
                                    platform::MsgIcon::Information, platform::MsgButtons::Ok);
    return false;
}

bool SaveSettings(QWidget *parent)
{
    QString error;
    if (WriteSettingsFile(SettingsFilePath(), AppSettings, &error))
        return true;
    platform::MessageBoxes::message(parent, QStringLiteral("Unable to save settings.\r\n\r\n") + error,
                                    platform::MsgIcon::Information, platform::MsgButtons::Ok);
    return false;
}

}  // namespace modGlobal
