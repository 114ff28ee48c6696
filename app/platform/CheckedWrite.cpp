#include "CheckedWrite.h"

#include "FileAccess.h"

#include <QFile>

namespace platform {

bool writeFileChecked(const QString &path, const QByteArray &bytes, QString *error, SymlinkTarget links)
{
    std::string why;
    const QByteArray name = QFile::encodeName(path);
    const bool ok = comrt::ReplaceFileContents(
        std::string(name.constData(), size_t(name.size())), std::string_view(bytes.constData(), size_t(bytes.size())),
        &why, links == SymlinkTarget::Refuse ? comrt::LinkPolicy::Refuse : comrt::LinkPolicy::Follow);
    if (!ok && error) {
        // The reason carries the path's bytes; show them as the program shows file names.
        *error = QString::fromUtf8(why.data(), qsizetype(why.size()));
    }
    return ok;
}

}  // namespace platform
