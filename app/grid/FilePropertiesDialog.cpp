#include "FilePropertiesDialog.h"

#include "FileShell.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QVBoxLayout>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

namespace {

QString timeText(qint64 seconds, qint64 nanoseconds, bool known)
{
    if (!known)
        return QStringLiteral("Unknown");
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000);
    return QLocale().toString(t, QLocale::LongFormat);
}

QString permissionText(mode_t mode, uid_t uid, gid_t gid)
{
    static const struct {
        mode_t bit;
        char c;
    } bits[] = {{S_IRUSR, 'r'}, {S_IWUSR, 'w'}, {S_IXUSR, 'x'}, {S_IRGRP, 'r'}, {S_IWGRP, 'w'},
                {S_IXGRP, 'x'}, {S_IROTH, 'r'}, {S_IWOTH, 'w'}, {S_IXOTH, 'x'}};
    QString text;
    for (const auto &b : bits)
        text += QLatin1Char((mode & b.bit) ? b.c : '-');
    const passwd *pw = ::getpwuid(uid);
    const group *gr = ::getgrgid(gid);
    const QString owner = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
    const QString grp = gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
    return text + QStringLiteral("  (owner %1, group %2)").arg(owner, grp);
}

}  // namespace

FilePropertiesDialog::FilePropertiesDialog(const QByteArray &path, const QString &shownPath,
                                           const QString &pages, QWidget *parent, FileShell *shell)
    : QDialog(parent), m_path(path), m_shell(shell)
{
    setObjectName(QStringLiteral("dlgFileProperties"));
    const qsizetype slash = shownPath.lastIndexOf(QLatin1Char('/'));
    const QString name = shownPath.mid(slash + 1);
    const QString folder = slash > 0 ? shownPath.left(slash) : QStringLiteral("/");
    setWindowTitle(name + QStringLiteral(" Properties"));

    struct statx sx {};
    const bool known = ::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW,
                               STATX_BASIC_STATS | STATX_BTIME, &sx) == 0;
    const QLocale locale;
    const qint64 size = known ? qint64(sx.stx_size) : 0;
    // Where the file system keeps no birth time, the last status change stands in for it.
    const statx_timestamp created = known && (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;

    const QList<QPair<QString, QString>> fields = {
        {QStringLiteral("Name"), name},
        {QStringLiteral("Folder"), folder},
        {QStringLiteral("Size"), !known        ? QStringLiteral("Unknown")
                                 : size < 1024 ? QStringLiteral("%1 bytes").arg(size)
                                               : QStringLiteral("%1 (%2 bytes)")
                                                     .arg(locale.formattedDataSize(size), locale.toString(size))},
        {QStringLiteral("Type"), QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment()},
        {QStringLiteral("Pages"), pages},
        {QStringLiteral("Created"), timeText(created.tv_sec, created.tv_nsec, known)},
        {QStringLiteral("Modified"), timeText(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec, known)},
        {QStringLiteral("Accessed"), timeText(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec, known)},
        {QStringLiteral("Permissions"),
         known ? permissionText(sx.stx_mode, sx.stx_uid, sx.stx_gid) : QStringLiteral("Unknown")},
    };

    auto *form = new QFormLayout;
    for (const auto &[field, value] : fields) {
        auto *label = new QLabel(value, this);
        label->setObjectName(QStringLiteral("lbl") + field);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setTextFormat(Qt::PlainText);
        form->addRow(field + QLatin1Char(':'), label);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (m_shell) {
        m_fileManager = buttons->addButton(QStringLiteral("File Manager Properties..."), QDialogButtonBox::ActionRole);
        m_fileManager->setObjectName(QStringLiteral("cmdFileManagerProperties"));
        m_fileManager->setAutoDefault(false);
        connect(m_fileManager, &QPushButton::clicked, this, &FilePropertiesDialog::askFileManager);
    }
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("lblFileManagerNote"));
    m_note->setTextFormat(Qt::PlainText);
    m_note->hide();

    auto *root = new QVBoxLayout(this);
    root->addLayout(form);
    root->addWidget(m_note);
    root->addWidget(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);
}

void FilePropertiesDialog::askFileManager()
{
    // One request at a time; the button comes back when the file manager has answered.
    m_fileManager->setEnabled(false);
    m_note->hide();
    m_shell->showItemProperties(m_path, this, [this](bool accepted) {
        m_fileManager->setEnabled(true);
        if (!accepted) {
            m_note->setText(QStringLiteral("No file manager answered."));
            m_note->show();
        }
    });
}

QString FilePropertiesDialog::fieldText(const QString &field) const
{
    const auto *label = findChild<QLabel *>(QStringLiteral("lbl") + field);
    return label ? label->text() : QString();
}
