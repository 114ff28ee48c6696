#pragma once
// What the file actions ask of the desktop, on paths given as the file system's own bytes (so
// names that are not valid UTF-8 still reach their file). Tests replace it with a recording fake,
// so no file manager or viewer opens.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QUrl;

class FileShell {
public:
    // How a request to the file manager ended: true when it accepted, false when it refused,
    // none is running, or it gave no answer in time.
    using Answer = std::function<void(bool accepted)>;

    virtual ~FileShell();
    // Opens a document with the user's default program, or a folder in the file manager.
    virtual bool openPath(const QByteArray &path) = 0;
    // The file manager requests return at once, without waiting for the file manager: answer
    // runs later on the calling thread, unless context has been destroyed by then (context may be
    // null: the answer then always runs).
    // Opens the file manager at the file's folder with the file selected.
    virtual void showItemInFolder(const QByteArray &path, QObject *context, Answer answer) = 0;
    // Asks the file manager for its properties window of the file.
    virtual void showItemProperties(const QByteArray &path, QObject *context, Answer answer) = 0;
    // Deletes the file for good (not to a wastebasket). On failure *error says why.
    virtual bool deleteFile(const QByteArray &path, QString *error) = 0;
};

// The running desktop: QDesktopServices, the freedesktop.org file-manager interface on the
// desktop D-Bus, and unlink(2). Lives for the whole run.
FileShell &systemFileShell();

// The same, with documents opened through `opener` instead of QDesktopServices::openUrl (tests
// record the URL that would be opened).
using UrlOpener = std::function<bool(const QUrl &)>;
std::unique_ptr<FileShell> makeSystemFileShell(UrlOpener opener);

// How long the file manager has to answer before a request counts as refused.
constexpr int kFileManagerTimeoutMs = 5000;

// A file URL for the path's bytes ("file:///a%20b/c.pdf"), exact for any name.
QString fileUriFromBytes(const QByteArray &path);
