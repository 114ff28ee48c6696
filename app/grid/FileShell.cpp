#include "FileShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <unistd.h>

FileShell::~FileShell() = default;

QString fileUriFromBytes(const QByteArray &path)
{
    // The bytes themselves are encoded: QUrl::toPercentEncoding would take them as text first
    // and turn every byte that is not UTF-8 into U+FFFD, naming another file.
    return QStringLiteral("file://") + QString::fromLatin1(path.toPercentEncoding("/"));
}

namespace {

bool callFileManager(const char *method, const QByteArray &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QString::fromLatin1(method));
    call << QStringList{fileUriFromBytes(path)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

class SystemFileShell final : public FileShell {
public:
    explicit SystemFileShell(UrlOpener opener) : m_open(std::move(opener)) {}
    bool openPath(const QByteArray &path) override
    {
        if (path.isEmpty())
            return false;
        return m_open(QUrl(fileUriFromBytes(path), QUrl::StrictMode));
    }
    bool showItemInFolder(const QByteArray &path) override { return callFileManager("ShowItems", path); }
    bool showItemProperties(const QByteArray &path) override
    {
        return callFileManager("ShowItemProperties", path);
    }
    bool deleteFile(const QByteArray &path, QString *error) override
    {
        if (::unlink(path.constData()) == 0)
            return true;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

private:
    UrlOpener m_open;
};

}  // namespace

FileShell &systemFileShell()
{
    static SystemFileShell shell([](const QUrl &url) { return QDesktopServices::openUrl(url); });
    return shell;
}

std::unique_ptr<FileShell> makeSystemFileShell(UrlOpener opener)
{
    return std::make_unique<SystemFileShell>(std::move(opener));
}
