#pragma once
// The export dialog: destination folder, file name, file type and, for the text and word types,
// a one-character column separator. The caller reads FileName and ColumnSaperator after it closes.

#include <QDialog>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

class dlgSave : public QDialog {
    Q_OBJECT
public:
    // FileName after Cancel, Esc or the window's close button.
    static QString cancelledText() { return QStringLiteral("//Cancelled//"); }

    // exportLocation is the folder the tree starts at; empty or blank means the home folder.
    explicit dlgSave(const QString &exportLocation, QWidget *parent = nullptr);
    ~dlgSave() override;

    // The full path chosen by Save; empty until then; cancelledText() when cancelled.
    QString FileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }
    // The separator typed for the text and word types; empty for the others.
    QString ColumnSaperator() const { return m_columnSaperator; }

    // "Text Document (*.txt)" -> "txt": the first three of the last four characters.
    static QString ExtensionFromFileType(const QString &fileType);
    // True when name holds a character that no file name may hold here or on Windows shares.
    static bool hasForbiddenCharacter(const QString &name);

    // The folder the file goes to (the tree's selection, or the start folder as given).
    QString selectedFolder() const { return m_folder; }
    void setSelectedFolder(const QString &folder);

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void revealSelectedFolder();
    void cmbFileType_Click();
    void cmdSave_Click();

    QString m_fileName;
    QString m_columnSaperator;
    QString m_folder;
    bool m_keepFolderInView = true;

    QFileSystemModel *m_folderModel = nullptr;
    QTreeView *ftvFolder = nullptr;
    QGroupBox *fmeFile = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtFileName = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *cmbFileType = nullptr;
    QLabel *lblDelimeter = nullptr;
    QLineEdit *txtColSaperator = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdCancel = nullptr;
};
