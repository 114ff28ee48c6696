#include "DesktopShell.h"

#include <QDesktopServices>
#include <QProcess>

namespace {

class SystemDesktopShell final : public DesktopShell {
public:
    bool openUrl(const QUrl &url) override { return QDesktopServices::openUrl(url); }
    bool startProgram(const QString &program, const QStringList &arguments) override
    {
        return QProcess::startDetached(program, arguments);
    }
};

}  // namespace

DesktopShell &systemDesktopShell()
{
    static SystemDesktopShell shell;
    return shell;
}
