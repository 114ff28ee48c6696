#include "AppSettings.h"

namespace modGlobal {

SettingsRecord AppSettings;

bool VisibilityEntryShows(const QString &entry)
{
    qsizetype end = entry.size();
    while (end > 0 && (entry[end - 1] == u' ' || entry[end - 1] == u'\t'))
        --end;
    return QStringView(entry).left(end) == u"1";
}

}  // namespace modGlobal
