#pragma once
// The Preferences dialog: the result grid's look, its visible columns, the startup folder and
// the export location. It is built from AppSettings each time it opens; only OK writes back:
// it copies the controls into AppSettings, saves the file, asks the main window to re-apply the
// look (the refresh callback) and closes.

#include <QDialog>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

#include "AppSettings.h"

class FlexGrid;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;

class dlgPreferences : public QDialog {
    Q_OBJECT
public:
    // The platform pickers the dialog uses; tests put their own answers in.
    struct Pickers {
        // The chosen colour, or nothing when cancelled.
        std::function<std::optional<QColor>(const QColor &initial, QWidget *parent)> color;
        // The chosen picture file, or nothing when cancelled.
        std::function<std::optional<QString>(const QString &filter, QWidget *parent)> picture;
        // The chosen folder, or empty text when cancelled.
        std::function<QString(const QString &title, QWidget *parent)> folder;
    };
    static Pickers systemPickers();

    // The eleven grid-line styles in list order: name and code.
    struct StyleEntry {
        const char *name;
        int code;
    };
    static const std::array<StyleEntry, 11> &styleEntries();

    // columnNames: the result grid's header texts of its columns 0 to 4.
    dlgPreferences(const QStringList &columnNames, std::function<void()> refreshGrid, QWidget *parent = nullptr);
    ~dlgPreferences() override;

    void setPickers(const Pickers &pickers) { m_pickers = pickers; }

    // The name of the first list entry carrying code; empty when none does.
    QString StyleNameForCode(int code) const;

private:
    void buildControls();
    void loadFromSettings();
    void FillColumnSettings();
    void applyShowGridRule();
    void pickColor(int which);
    void paintSwatch(int which);
    void toggleVisible(int row);
    void setAllVisible(int mode);  // 0 clear, 1 tick, 2 invert
    void cmdOK_Click();

    std::function<void()> m_refreshGrid;
    QStringList m_columnNames;
    Pickers m_pickers;

    // Swatches in the order ForeColor, BackColor, GridColor, ForeColorSel, BackColorSel.
    enum Swatch { SwForeColor, SwBackColor, SwGridColor, SwForeColorSel, SwBackColorSel, SwatchCount };
    std::array<modGlobal::OleColor, SwatchCount> m_colors{};
    std::array<QFrame *, SwatchCount> m_swatches{};
    std::array<QPushButton *, SwatchCount> m_colorButtons{};

    QGroupBox *fraGrid = nullptr;
    QLineEdit *txtBackPicture = nullptr;
    QPushButton *cmdBackGround = nullptr;
    QCheckBox *chkShowGrid = nullptr;
    QComboBox *cmbGridStyles = nullptr;
    QGroupBox *fraProgram = nullptr;
    QLineEdit *txtStartUpFolder = nullptr;
    QPushButton *cmdStartupFolder = nullptr;
    QLineEdit *txtExportLocation = nullptr;
    QPushButton *cmdExportLocation = nullptr;
    QGroupBox *fmeColumnSettings = nullptr;
    FlexGrid *vsColumnSettings = nullptr;
    QPushButton *cmdSelectAll = nullptr;
    QPushButton *cmdDeselectAll = nullptr;
    QPushButton *cmdInvertSelection = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};

// Opens the dialog modally over parent, listing the header texts of resultGrid's columns 0 to 4.
// Returns true when the user pressed OK (settings saved, refreshGrid called).
bool ShowPreferences(const FlexGrid &resultGrid, std::function<void()> refreshGrid, QWidget *parent);
