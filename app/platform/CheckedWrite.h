#pragma once
// The one way the program replaces a file it writes (settings, export, saved grids): every byte,
// the flush to disk and the close are checked before the new file takes the old one's place, so
// a full disk or a failing device reports an error naming the path and the reason and leaves the
// old file as it was. (QSaveFile::commit() in Qt 6.4 can report success after a failed write.)

#include <QByteArray>
#include <QString>

namespace platform {

enum class SymlinkTarget {
    Follow,  // write the file a link points at
    Refuse,  // a link at the target name is refused and nothing is written
};

bool writeFileChecked(const QString &path, const QByteArray &bytes, QString *error,
                      SymlinkTarget links = SymlinkTarget::Follow);

}  // namespace platform
