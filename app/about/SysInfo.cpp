#include "SysInfo.h"

#include "DesktopShell.h"
#include "MessageBoxes.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

constexpr REGSAM kKeyAccess = 0x2003F;  // read access plus all key-specific rights
constexpr DWORD kValueBufferSize = 1024;

const char *const kDesktopTools[] = {
    "hardinfo2", "hardinfo", "kinfocenter", "gnome-system-monitor", "mate-system-monitor",
};

}  // namespace

bool GetKeyValue(HKEY KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal)
{
    KeyVal.clear();
    HKEY key = nullptr;
    const QByteArray keyName = KeyName.toUtf8();
    if (RegOpenKeyEx(KeyRoot, keyName.constData(), 0, kKeyAccess, &key) != ERROR_SUCCESS)
        return false;

    QByteArray buffer(kValueBufferSize, '\0');
    DWORD size = kValueBufferSize;
    DWORD type = REG_NONE;
    const QByteArray valueName = SubKeyRef.toUtf8();
    const LONG rc = RegQueryValueEx(key, valueName.constData(), nullptr, &type,
                                    reinterpret_cast<BYTE *>(buffer.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;

    buffer.truncate(int(qMin<DWORD>(size, kValueBufferSize)));
    if (buffer.endsWith('\0'))
        buffer.chop(1);
    if (type == REG_SZ)
        KeyVal = QString::fromUtf8(buffer);
    return true;
}

QStringList SysInfoCandidates(const QStringList &toolSearchPath)
{
    QStringList candidates;
    QString value;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                    QStringLiteral("PATH"), value)
        && !value.isEmpty()) {
        candidates << value;
    } else if (GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                           QStringLiteral("MSINFO"), value)
               && !value.isEmpty()) {
        const QString tool = QDir(value).filePath(QStringLiteral("MSINFO32.EXE"));
        if (QFileInfo(tool).isFile())
            candidates << tool;
    }
    for (const char *name : kDesktopTools) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name), toolSearchPath);
        if (!found.isEmpty())
            candidates << found;
    }
    return candidates;
}

bool StartSysInfo(DesktopShell &shell, QWidget *parent, const QStringList &toolSearchPath)
{
    for (const QString &program : SysInfoCandidates(toolSearchPath)) {
        if (shell.startProgram(program, {}))
            return true;
    }
    platform::MessageBoxes::message(parent, QStringLiteral("System Information Is Unavailable At This Time"),
                                    platform::MsgIcon::None, platform::MsgButtons::Ok);
    return false;
}
