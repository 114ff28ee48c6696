#include "dlgSave.h"

#include "MessageBoxes.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const QString kForbidden = QStringLiteral("\\/:*?\"<>|");

const char *const kFileTypes[] = {
    "Text Document (*.txt)",
    "Excel Worksheet (*.xls)",
    "Word Document (*.doc)",
    "CSV File (*.csv)",
};

void keepPlaceWhenHidden(QWidget *w)
{
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
}

}  // namespace

dlgSave::dlgSave(const QString &exportLocation, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgSave"));
    setWindowTitle(QStringLiteral("Export"));

    m_folderModel = new QFileSystemModel(this);
    m_folderModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_folderModel->setRootPath(QDir::rootPath());
    m_folderModel->setReadOnly(true);

    ftvFolder = new QTreeView(this);
    ftvFolder->setObjectName(QStringLiteral("ftvFolder"));
    ftvFolder->setModel(m_folderModel);
    ftvFolder->setHeaderHidden(true);
    for (int c = 1; c < m_folderModel->columnCount(); ++c)
        ftvFolder->hideColumn(c);
    ftvFolder->setMinimumSize(380, 260);
    // The folder model fills in and sorts in the background, moving rows about: keep the start
    // folder in view until the user takes over the tree.
    const auto keepInView = [this] {
        if (m_keepFolderInView)
            QTimer::singleShot(0, this, &dlgSave::revealSelectedFolder);
    };
    connect(m_folderModel, &QFileSystemModel::directoryLoaded, this, keepInView);
    connect(m_folderModel, &QAbstractItemModel::layoutChanged, this, keepInView);
    connect(m_folderModel, &QAbstractItemModel::rowsInserted, this, keepInView);
    ftvFolder->installEventFilter(this);
    ftvFolder->viewport()->installEventFilter(this);
    connect(ftvFolder->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    m_folder = m_folderModel->filePath(current);
            });

    fmeFile = new QGroupBox(this);
    fmeFile->setObjectName(QStringLiteral("fmeFile"));
    Label1 = new QLabel(QStringLiteral("File Name"), fmeFile);
    Label1->setObjectName(QStringLiteral("Label1"));
    txtFileName = new QLineEdit(fmeFile);
    txtFileName->setObjectName(QStringLiteral("txtFileName"));
    Label2 = new QLabel(QStringLiteral("File Type"), fmeFile);
    Label2->setObjectName(QStringLiteral("Label2"));
    cmbFileType = new QComboBox(fmeFile);
    cmbFileType->setObjectName(QStringLiteral("cmbFileType"));
    lblDelimeter = new QLabel(QStringLiteral("Column Saperator"), fmeFile);
    lblDelimeter->setObjectName(QStringLiteral("lblDelimeter"));
    txtColSaperator = new QLineEdit(fmeFile);
    txtColSaperator->setObjectName(QStringLiteral("txtColSaperator"));
    txtColSaperator->setFixedWidth(txtColSaperator->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")) + 12);
    keepPlaceWhenHidden(lblDelimeter);
    keepPlaceWhenHidden(txtColSaperator);
    Label1->setBuddy(txtFileName);
    Label2->setBuddy(cmbFileType);
    lblDelimeter->setBuddy(txtColSaperator);

    auto *fileGrid = new QGridLayout(fmeFile);
    fileGrid->addWidget(Label1, 0, 0);
    fileGrid->addWidget(txtFileName, 0, 1, 1, 3);
    fileGrid->addWidget(Label2, 1, 0);
    fileGrid->addWidget(cmbFileType, 1, 1);
    fileGrid->addWidget(lblDelimeter, 1, 2, Qt::AlignRight);
    fileGrid->addWidget(txtColSaperator, 1, 3);
    fileGrid->setColumnStretch(1, 1);

    cmdSave = new QPushButton(QStringLiteral("&Save"), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);

    auto *root = new QVBoxLayout(this);
    root->addWidget(ftvFolder, 1);
    root->addWidget(fmeFile);
    root->addLayout(buttons);

    // Load: both results empty, the start folder, limits and default texts, the type list.
    m_fileName.clear();
    m_columnSaperator.clear();
    setSelectedFolder(exportLocation.trimmed().isEmpty() ? QDir::homePath() : exportLocation);
    txtFileName->setMaxLength(255);
    txtColSaperator->setMaxLength(1);
    txtFileName->setText(QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral("_Data"));
    txtColSaperator->setText(QStringLiteral(","));
    cmbFileType->clear();
    for (const char *type : kFileTypes)
        cmbFileType->addItem(QString::fromLatin1(type));
    cmbFileType->setCurrentIndex(0);
    cmbFileType_Click();

    txtFileName->installEventFilter(this);
    txtColSaperator->installEventFilter(this);
    connect(cmbFileType, &QComboBox::currentIndexChanged, this, [this] { cmbFileType_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &dlgSave::reject);
    txtFileName->setFocus();
}

dlgSave::~dlgSave() = default;

QString dlgSave::ExtensionFromFileType(const QString &fileType)
{
    return fileType.right(4).left(3);
}

bool dlgSave::hasForbiddenCharacter(const QString &name)
{
    for (QChar c : name)
        if (kForbidden.contains(c))
            return true;
    return false;
}

void dlgSave::setSelectedFolder(const QString &folder)
{
    m_folder = folder;
    const QModelIndex index = m_folderModel->index(folder);
    if (!index.isValid())
        return;  // kept as given; writing there will report what is wrong with it
    {
        const QSignalBlocker block(ftvFolder->selectionModel());
        ftvFolder->setCurrentIndex(index);
    }
    revealSelectedFolder();
}

void dlgSave::revealSelectedFolder()
{
    const QModelIndex index = m_folderModel->index(m_folder);
    if (m_keepFolderInView && index.isValid() && index == ftvFolder->currentIndex())
        ftvFolder->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void dlgSave::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    QTimer::singleShot(0, this, &dlgSave::revealSelectedFolder);
}

void dlgSave::reject()
{
    // Esc and the window's close button cancel just as the Cancel button does.
    m_fileName = cancelledText();
    QDialog::reject();
}

bool dlgSave::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == ftvFolder || watched == ftvFolder->viewport())
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress
            || event->type() == QEvent::Wheel))
        m_keepFolderInView = false;
    if (watched == txtFileName && event->type() == QEvent::KeyPress) {
        if (hasForbiddenCharacter(static_cast<QKeyEvent *>(event)->text()))
            return true;  // thrown away as typed
    }
    if ((watched == txtFileName || watched == txtColSaperator) && event->type() == QEvent::FocusIn) {
        // After the mouse press that gave the focus has placed the cursor.
        auto *edit = static_cast<QLineEdit *>(watched);
        QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}

void dlgSave::cmbFileType_Click()
{
    const QString type = cmbFileType->currentText();
    const bool withSeparator = type == QLatin1String("Word Document (*.doc)")
                               || type == QLatin1String("Text Document (*.txt)");
    lblDelimeter->setVisible(withSeparator);
    txtColSaperator->setVisible(withSeparator);
}

void dlgSave::cmdSave_Click()
{
    // isHidden, not isVisible: the rule is about the box itself, shown or not on screen.
    const bool separatorShown = !txtColSaperator->isHidden();
    if (txtFileName->text().isEmpty()) {
        platform::MessageBoxes::message(this, QStringLiteral("File Name must be specified."));
        txtFileName->setFocus();
        return;
    }
    if (separatorShown && txtColSaperator->text().isEmpty()) {
        platform::MessageBoxes::message(this, QStringLiteral("Column Saperator must be specified."));
        txtColSaperator->setFocus();
        return;
    }
    QString name = txtFileName->text();
    if (hasForbiddenCharacter(name)) {
        // Typing filters these, but a pasted name can still hold one.
        platform::MessageBoxes::message(
            this, QStringLiteral("A file name can't contain any of the following characters:\r\n"
                                 "\\ / : * ? \" < > |"));
        txtFileName->setFocus();
        return;
    }

    const QString extension = ExtensionFromFileType(cmbFileType->currentText());
    if (name.contains(QLatin1Char('.')) && name.right(4) == QLatin1Char('.') + extension)
        name.chop(4);

    QString folder = m_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_fileName = folder + name + QLatin1Char('.') + extension;
    if (separatorShown)
        m_columnSaperator = txtColSaperator->text();
    accept();
}
