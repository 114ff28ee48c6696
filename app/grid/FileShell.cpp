#include "FileShell.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QPointer>
#include <QStringList>
#include <QTimer>
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

// The call goes out at once and its answer comes back through the event loop: a file manager
// that is slow to start or busy must not hold up the window.
void callFileManager(const char *method, const QByteArray &path, QObject *context, FileShell::Answer answer)
{
    const bool hasContext = context != nullptr;
    QPointer<QObject> guard(context);
    auto deliver = [hasContext, guard, answer = std::move(answer)](bool accepted) {
        if (answer && (!hasContext || guard))
            answer(accepted);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Still answered later, as a call would be: callers never see their answer run inside
        // their own request.
        QTimer::singleShot(0, QCoreApplication::instance(), [deliver] { deliver(false); });
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QString::fromLatin1(method));
    call << QStringList{fileUriFromBytes(path)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kFileManagerTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [deliver](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         deliver(!w->isError() && w->reply().type() == QDBusMessage::ReplyMessage);
                     });
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
    void showItemInFolder(const QByteArray &path, QObject *context, Answer answer) override
    {
        callFileManager("ShowItems", path, context, std::move(answer));
    }
    void showItemProperties(const QByteArray &path, QObject *context, Answer answer) override
    {
        callFileManager("ShowItemProperties", path, context, std::move(answer));
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
