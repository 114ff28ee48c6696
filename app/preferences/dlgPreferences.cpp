#include "dlgPreferences.h"

#include "FlexGrid.h"
#include "OleColor.h"
#include "SettingsFile.h"
#include "Twips.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kFolderBoxLimit = 4096;  // a whole Linux path
constexpr int kColVisible = 2;

const char *const kSwatchNames[] = {"GridForeColor", "GridBackColor", "GridColor", "GridForeColorSel",
                                    "GridBackColorSel"};
const char *const kSwatchLabels[] = {"Fore Color", "Back Color", "Line Color", "Fore Color Selection",
                                     "Back Color Selection"};

// accessibleName: what a screen reader says for this "..." button (each says what it picks).
QPushButton *browseButton(const char *name, const QString &accessibleName, QWidget *parent)
{
    auto *b = new QPushButton(QStringLiteral("..."), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(accessibleName);
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    return b;
}

}  // namespace

const std::array<dlgPreferences::StyleEntry, 11> &dlgPreferences::styleEntries()
{
    static const std::array<StyleEntry, 11> entries = {{
        {"Flat", 1}, {"Inset", 2}, {"Raised", 3},
        {"Flat Horizontal", 4}, {"Inset Horizontal", 5}, {"Raised Horizontal", 6},
        {"Flat Vertical", 8}, {"Inset Vertical", 9}, {"Raised Vertical", 10},
        {"Explorer", 12}, {"Excel", 13},
    }};
    return entries;
}

dlgPreferences::Pickers dlgPreferences::systemPickers()
{
    Pickers p;
    p.color = [](const QColor &initial, QWidget *parent) -> std::optional<QColor> {
        const QColor c = QColorDialog::getColor(initial, parent);
        if (!c.isValid())
            return std::nullopt;
        return c;
    };
    p.picture = [](const QString &filter, QWidget *parent) -> std::optional<QString> {
        QString chosenFilter = filter.section(QStringLiteral(";;"), 0, 0);
        const QString file = QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(), filter,
                                                          &chosenFilter);
        if (file.isEmpty())
            return std::nullopt;
        return file;
    };
    p.folder = [](const QString &title, QWidget *parent) {
        return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    };
    return p;
}

dlgPreferences::dlgPreferences(const QStringList &columnNames, std::function<void()> refreshGrid,
                               QWidget *parent)
    : QDialog(parent), m_refreshGrid(std::move(refreshGrid)), m_columnNames(columnNames),
      m_pickers(systemPickers())
{
    setObjectName(QStringLiteral("dlgPreferences"));
    setWindowTitle(QStringLiteral("Preferences"));
    buildControls();
    loadFromSettings();
}

dlgPreferences::~dlgPreferences() = default;

void dlgPreferences::buildControls()
{
    // ---- Grid Settings
    fraGrid = new QGroupBox(QStringLiteral("Grid Settings"), this);
    fraGrid->setObjectName(QStringLiteral("fraGrid"));
    auto *gridLayout = new QGridLayout(fraGrid);

    txtBackPicture = new QLineEdit(fraGrid);
    txtBackPicture->setObjectName(QStringLiteral("txtBackPicture"));
    cmdBackGround = browseButton("cmdBackGround", QStringLiteral("Choose the background picture"), fraGrid);
    auto *pictureLabel = new QLabel(QStringLiteral("BackGround Picture"), fraGrid);
    pictureLabel->setBuddy(txtBackPicture);
    gridLayout->addWidget(pictureLabel, 0, 0);
    auto *pictureRow = new QHBoxLayout;
    pictureRow->addWidget(txtBackPicture, 1);
    pictureRow->addWidget(cmdBackGround);
    gridLayout->addLayout(pictureRow, 0, 1, 1, 3);

    chkShowGrid = new QCheckBox(QStringLiteral("Show Grid"), fraGrid);
    chkShowGrid->setObjectName(QStringLiteral("chkShowGrid"));
    cmbGridStyles = new QComboBox(fraGrid);
    cmbGridStyles->setObjectName(QStringLiteral("cmbGridStyles"));
    auto *styleLabel = new QLabel(QStringLiteral("Line Style"), fraGrid);
    styleLabel->setBuddy(cmbGridStyles);
    gridLayout->addWidget(chkShowGrid, 1, 0);
    gridLayout->addWidget(styleLabel, 1, 1, Qt::AlignRight);
    gridLayout->addWidget(cmbGridStyles, 1, 2, 1, 2);

    for (int i = 0; i < SwatchCount; ++i) {
        auto *label = new QLabel(QString::fromLatin1(kSwatchLabels[i]), fraGrid);
        auto *swatch = new QFrame(fraGrid);
        swatch->setObjectName(QStringLiteral("shp") + QString::fromLatin1(kSwatchNames[i]));
        swatch->setFrameShape(QFrame::Box);
        swatch->setFixedSize(48, 20);
        swatch->setAutoFillBackground(true);
        auto *button = browseButton(("cmd" + QByteArray(kSwatchNames[i])).constData(),
                                     QStringLiteral("Choose the ") + QString::fromLatin1(kSwatchLabels[i]).toLower(), fraGrid);
        m_swatches[i] = swatch;
        m_colorButtons[i] = button;
        gridLayout->addWidget(label, 2 + i, 0);
        gridLayout->addWidget(swatch, 2 + i, 2);
        gridLayout->addWidget(button, 2 + i, 3);
        connect(button, &QPushButton::clicked, this, [this, i] { pickColor(i); });
    }
    gridLayout->setColumnStretch(1, 1);

    // ---- General Settings
    fraProgram = new QGroupBox(QStringLiteral("General Settings"), this);
    fraProgram->setObjectName(QStringLiteral("fraProgram"));
    auto *programLayout = new QGridLayout(fraProgram);
    txtStartUpFolder = new QLineEdit(fraProgram);
    txtStartUpFolder->setObjectName(QStringLiteral("txtStartUpFolder"));
    cmdStartupFolder = browseButton("cmdStartupFolder", QStringLiteral("Choose the startup folder"), fraProgram);
    txtExportLocation = new QLineEdit(fraProgram);
    txtExportLocation->setObjectName(QStringLiteral("txtExportLocation"));
    cmdExportLocation = browseButton("cmdExportLocation", QStringLiteral("Choose the export location"), fraProgram);
    programLayout->addWidget(new QLabel(QStringLiteral("Startup Folder"), fraProgram), 0, 0);
    programLayout->addWidget(txtStartUpFolder, 0, 1);
    programLayout->addWidget(cmdStartupFolder, 0, 2);
    programLayout->addWidget(new QLabel(QStringLiteral("Export Location"), fraProgram), 1, 0);
    programLayout->addWidget(txtExportLocation, 1, 1);
    programLayout->addWidget(cmdExportLocation, 1, 2);
    for (QLineEdit *box : {txtStartUpFolder, txtExportLocation}) {
        box->setReadOnly(true);  // filled only through the "..." buttons
        box->setMinimumWidth(320);
    }

    // ---- Column Settings
    fmeColumnSettings = new QGroupBox(QStringLiteral("Column Settings"), this);
    fmeColumnSettings->setObjectName(QStringLiteral("fmeColumnSettings"));
    vsColumnSettings = new FlexGrid(fmeColumnSettings);
    vsColumnSettings->setObjectName(QStringLiteral("vsColumnSettings"));
    vsColumnSettings->setAccessibleName(QStringLiteral("Columns shown in the file list"));
    cmdSelectAll = new QPushButton(QStringLiteral("Select All"), fmeColumnSettings);
    cmdSelectAll->setObjectName(QStringLiteral("cmdSelectAll"));
    cmdDeselectAll = new QPushButton(QStringLiteral("Deselect All"), fmeColumnSettings);
    cmdDeselectAll->setObjectName(QStringLiteral("cmdDeselectAll"));
    cmdInvertSelection = new QPushButton(QStringLiteral("Invert Selection"), fmeColumnSettings);
    cmdInvertSelection->setObjectName(QStringLiteral("cmdInvertSelection"));
    auto *columnLayout = new QVBoxLayout(fmeColumnSettings);
    columnLayout->addWidget(vsColumnSettings, 1);
    auto *bulk = new QHBoxLayout;
    bulk->addWidget(cmdSelectAll);
    bulk->addWidget(cmdDeselectAll);
    bulk->addWidget(cmdInvertSelection);
    columnLayout->addLayout(bulk);

    // ---- buttons
    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto *top = new QHBoxLayout;
    top->addWidget(fraGrid, 1);
    top->addWidget(fmeColumnSettings);
    auto *root = new QVBoxLayout(this);
    root->addLayout(top, 1);
    root->addWidget(fraProgram);
    root->addLayout(buttons);

    connect(chkShowGrid, &QCheckBox::toggled, this, [this] { applyShowGridRule(); });
    connect(cmdBackGround, &QPushButton::clicked, this, [this] {
        if (!m_pickers.picture)
            return;
        const auto file = m_pickers.picture(
            QStringLiteral("Bitmap Image (*.bmp);;JPEG Image (*.jpg);;GIF Image (*.gif)"), this);
        if (file)
            txtBackPicture->setText(*file);
    });
    // Both browsers carry the same title; a cancelled browse empties the box.
    connect(cmdStartupFolder, &QPushButton::clicked, this, [this] {
        txtStartUpFolder->setText(m_pickers.folder ? m_pickers.folder(QStringLiteral("Select Startup Folder"), this)
                                                   : QString());
    });
    connect(cmdExportLocation, &QPushButton::clicked, this, [this] {
        txtExportLocation->setText(m_pickers.folder ? m_pickers.folder(QStringLiteral("Select Startup Folder"), this)
                                                    : QString());
    });
    connect(cmdSelectAll, &QPushButton::clicked, this, [this] { setAllVisible(1); });
    connect(cmdDeselectAll, &QPushButton::clicked, this, [this] { setAllVisible(0); });
    connect(cmdInvertSelection, &QPushButton::clicked, this, [this] { setAllVisible(2); });
    connect(vsColumnSettings, &FlexGrid::beforeEdit, this,
            [](int, int col, bool *cancel) { *cancel = col != kColVisible; });
    connect(vsColumnSettings, &FlexGrid::keyDown, this, [this](int keyCode, Qt::KeyboardModifiers, bool *handled) {
        // Space toggles the current row's Visible box whichever column of it is current.
        if (keyCode != 32 || vsColumnSettings->row() < 1)
            return;
        toggleVisible(vsColumnSettings->row());
        *handled = true;
    });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString dlgPreferences::StyleNameForCode(int code) const
{
    for (int i = 0; i < cmbGridStyles->count(); ++i)
        if (cmbGridStyles->itemData(i).toInt() == code)
            return cmbGridStyles->itemText(i);
    return QString();
}

void dlgPreferences::loadFromSettings()
{
    const modGlobal::SettingsRecord &s = modGlobal::AppSettings;
    txtStartUpFolder->setMaxLength(kFolderBoxLimit);
    txtExportLocation->setMaxLength(kFolderBoxLimit);

    cmbGridStyles->clear();
    for (const StyleEntry &e : styleEntries())
        cmbGridStyles->addItem(QString::fromLatin1(e.name), e.code);
    txtBackPicture->setText(s.BackPicture);
    // A stored code the list doesn't carry shows the first entry, which OK then stores.
    const int index = cmbGridStyles->findText(StyleNameForCode(s.GridStyle));
    cmbGridStyles->setCurrentIndex(index >= 0 ? index : 0);

    chkShowGrid->setChecked(s.ShowGrid == 1);
    applyShowGridRule();

    m_colors[SwForeColor] = s.ForeColor;
    m_colors[SwForeColorSel] = s.ForeColorSel;
    m_colors[SwBackColor] = s.BackColor;
    m_colors[SwBackColorSel] = s.BackColorSel;
    m_colors[SwGridColor] = s.GridColor;
    for (int i = 0; i < SwatchCount; ++i)
        paintSwatch(i);

    txtStartUpFolder->setText(s.StartupFolder);
    txtExportLocation->setText(s.ExportLocation);
    FillColumnSettings();
}

void dlgPreferences::FillColumnSettings()
{
    FlexGrid *g = vsColumnSettings;
    g->setFixedRows(1);
    g->setFixedCols(1);
    g->setCols(3);
    g->setRows(1);
    g->setTextMatrix(0, 0, QStringLiteral("Sr#"));
    g->setTextMatrix(0, 1, QStringLiteral("Column Name"));
    g->setTextMatrix(0, 2, QStringLiteral("Visible"));
    // The designed widths, widened where the header font needs more room.
    const int widths[] = {500, 1700, 700};
    const QFontMetrics fm(g->view()->horizontalHeader()->font());
    for (int c = 0; c < 3; ++c) {
        const int needed = platform::pixelsToTwips(fm.horizontalAdvance(g->textMatrix(0, c)) + 16);
        g->setColWidth(c, std::max(widths[c], needed));
    }
    g->setColDataType(kColVisible, FlexGrid::TypeBoolean);
    g->setColAlignment(0, Qt::AlignCenter);
    g->setColAlignment(2, Qt::AlignCenter);
    g->setSelectionMode(FlexGrid::SelectionFree);
    g->setEditable(true);  // beforeEdit lets only the Visible boxes change

    const QStringList &visibility = modGlobal::AppSettings.ColumnVisibility;
    for (int c = 0; c < 5; ++c) {
        const int row = g->appendRow({QString::number(c + 1), m_columnNames.value(c)});
        // A column without a stored entry is shown by the grid, so its box starts ticked.
        const bool visible = c >= visibility.size() || modGlobal::VisibilityEntryShows(visibility[c]);
        g->setCellChecked(row, kColVisible, visible ? FlexGrid::Checked : FlexGrid::Unchecked);
    }

    // Wide enough for the three columns, tall enough for the five rows.
    QTableView *view = g->view();
    int width = view->verticalHeader()->isVisible() ? view->verticalHeader()->width() : 0;
    for (int c = 0; c < 3; ++c)
        width += view->columnWidth(c);
    width += 2 * view->frameWidth() + 4;
    int height = view->horizontalHeader()->sizeHint().height() + 2 * view->frameWidth() + 4;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        height += view->rowHeight(r);
    g->setMinimumSize(width, height);
}

void dlgPreferences::applyShowGridRule()
{
    const bool on = chkShowGrid->isChecked();
    cmbGridStyles->setEnabled(on);
    m_colorButtons[SwGridColor]->setEnabled(on);
}

void dlgPreferences::paintSwatch(int which)
{
    QPalette pal = m_swatches[which]->palette();
    pal.setColor(QPalette::Window, platform::oleToColor(m_colors[which], palette()));
    m_swatches[which]->setPalette(pal);
}

void dlgPreferences::pickColor(int which)
{
    if (!m_pickers.color)
        return;
    const auto chosen = m_pickers.color(platform::oleToColor(m_colors[which], palette()), this);
    if (!chosen || !chosen->isValid())
        return;
    m_colors[which] = platform::colorToOle(*chosen);
    paintSwatch(which);
}

void dlgPreferences::toggleVisible(int row)
{
    const bool ticked = vsColumnSettings->cellChecked(row, kColVisible) == FlexGrid::Checked;
    vsColumnSettings->setCellChecked(row, kColVisible, ticked ? FlexGrid::Unchecked : FlexGrid::Checked);
}

void dlgPreferences::setAllVisible(int mode)
{
    for (int r = vsColumnSettings->fixedRows(); r < vsColumnSettings->rows(); ++r) {
        if (mode == 2)
            toggleVisible(r);
        else
            vsColumnSettings->setCellChecked(r, kColVisible, mode == 1 ? FlexGrid::Checked : FlexGrid::Unchecked);
    }
}

void dlgPreferences::cmdOK_Click()
{
    modGlobal::SettingsRecord &s = modGlobal::AppSettings;
    s.BackPicture = txtBackPicture->text();
    s.GridStyle = uint8_t(cmbGridStyles->currentData().toInt());
    s.ShowGrid = chkShowGrid->isChecked() ? 1 : 0;
    s.ForeColor = m_colors[SwForeColor];
    s.ForeColorSel = m_colors[SwForeColorSel];
    s.BackColor = m_colors[SwBackColor];
    s.BackColorSel = m_colors[SwBackColorSel];
    s.GridColor = m_colors[SwGridColor];
    s.ColumnVisibility.clear();
    for (int r = vsColumnSettings->fixedRows(); r < vsColumnSettings->rows(); ++r)
        s.ColumnVisibility << (vsColumnSettings->cellChecked(r, kColVisible) == FlexGrid::Checked
                                   ? QStringLiteral("1")
                                   : QStringLiteral("0"));
    s.StartupFolder = txtStartUpFolder->text();
    s.ExportLocation = txtExportLocation->text();

    // A failed save is reported by SaveSettings; the new look still applies for this run.
    modGlobal::SaveSettings(this);
    if (m_refreshGrid)
        m_refreshGrid();
    accept();
}

bool ShowPreferences(const FlexGrid &resultGrid, std::function<void()> refreshGrid, QWidget *parent)
{
    QStringList names;
    for (int c = 0; c < 5; ++c)
        names << resultGrid.textMatrix(0, c);
    dlgPreferences dialog(names, std::move(refreshGrid), parent);
    return dialog.exec() == QDialog::Accepted;
}
