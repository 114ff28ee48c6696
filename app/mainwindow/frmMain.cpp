#include "frmMain.h"

#include "AccessibleNames.h"
#include "AppSettings.h"
#include "FileIcons.h"
#include "FolderDropTarget.h"
#include "FolderTree.h"
#include "MainCommands.h"
#include "MessageBoxes.h"
#include "ResultGrid.h"
#include "ResultGridCommands.h"
#include "SearchCriteriaPanel.h"
#include "SearchProgress.h"
#include "SelectionTotals.h"
#include "StatusPanels.h"
#include "Twips.h"
#include "UnreadFoldersNotice.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

using platform::twipsToPixels;

namespace {

QFrame *separatorLine(const char *name, QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton *button(const char *name, const QString &caption, int widthTwips, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(twipsToPixels(widthTwips));
    b->setAutoDefault(false);
    return b;
}

const QString kHideCaption = QStringLiteral("Hide Advance Options");

}  // namespace

frmMain::frmMain(QWidget *parent, search::SearchCore::FactoryMaker counters)
    : QMainWindow(parent)
    , m_commands(std::make_unique<MainCommands>(*this))
    , m_icons(std::make_unique<FileIcons>())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(platform::appTitle());
    m_search = std::make_unique<search::SearchCommand>(static_cast<search::SearchHost &>(*this), std::move(counters));
    buildControls();
    buildLayout();
    m_actions.build(this, menuBar());
    connectCommands();
    loadStep();
    nameForAssistiveTools(*this);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    fmeAddressBar = new QFrame(this);
    fmeAddressBar->setObjectName(QStringLiteral("fmeAddressBar"));
    txtAddress = new QLineEdit(fmeAddressBar);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));

    ftv = new FolderTree(this);
    vsFiles = new ResultGrid(this);
    spSplitter = new QSplitter(Qt::Horizontal, this);
    spSplitter->setObjectName(QStringLiteral("spSplitter"));
    spSplitter->setChildrenCollapsible(false);

    lblPageCount = new QLabel(QStringLiteral("Total Pages : 0"), this);
    lblPageCount->setObjectName(QStringLiteral("lblPageCount"));
    QFont bold = lblPageCount->font();
    bold.setBold(true);
    lblPageCount->setFont(bold);
    lblPageCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    criteriaPanel = new search::SearchCriteriaPanel(this);
    fmeSearch = new QFrame(this);
    fmeSearch->setObjectName(QStringLiteral("fmeSearch"));
    cmdSearch = button("cmdSearch", search::SearchCommand::kSearchCaption, 945, fmeSearch);
    cmdExport = button("cmdExport", QStringLiteral("Export"), 1200, fmeSearch);
    cmdShowHideAdvanceSearch = button("cmdShowHideAdvanceSearch", kHideCaption, 1845, fmeSearch);
    cmdShowHideAdvanceSearch->setProperty("Tag", QString());

    sbGeneral = new StatusPanels(this);
    setStatusBar(sbGeneral);
    unreadFolders = new UnreadFoldersNotice(sbGeneral);
    sbGeneral->addPermanentWidget(unreadFolders);
}

void frmMain::buildLayout()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(central);
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, twipsToPixels(60), 0, 0);
    outer->setSpacing(0);

    // Address bar between two separator lines, stretched to the window's width.
    auto *lblAddress = new QLabel(QStringLiteral("Address"), fmeAddressBar);
    lblAddress->setObjectName(QStringLiteral("lblAddress"));
    auto *addressRow = new QHBoxLayout(fmeAddressBar);
    addressRow->setContentsMargins(twipsToPixels(90), twipsToPixels(30), twipsToPixels(200), twipsToPixels(30));
    addressRow->setSpacing(twipsToPixels(75));
    addressRow->addWidget(lblAddress);
    addressRow->addWidget(txtAddress, 1);
    outer->addWidget(separatorLine("Line1", central));
    outer->addWidget(fmeAddressBar);
    outer->addWidget(separatorLine("Line2", central));

    // Below the address bar: 50 twips from the left edge, 200 from the right, the split panel
    // 100 below Line2, everything else stacked under it towards the status bar.
    auto *body = new QVBoxLayout;
    body->setContentsMargins(twipsToPixels(50), twipsToPixels(100), twipsToPixels(200), twipsToPixels(50));
    body->setSpacing(0);
    spSplitter->addWidget(ftv);
    spSplitter->addWidget(vsFiles);
    spSplitter->setStretchFactor(0, 0);
    spSplitter->setStretchFactor(1, 1);
    body->addWidget(spSplitter, 1);
    body->addSpacing(twipsToPixels(50));
    body->addWidget(lblPageCount);  // right-aligned text: its right edge is the split panel's
    body->addSpacing(twipsToPixels(50));
    body->addWidget(criteriaPanel->advancedFrame());
    body->addWidget(fmeSearch);
    outer->addLayout(body, 1);

    // Search bar: the criteria panel's filter row, then Search; Export and the show/hide button
    // sit at the right edge, 50 twips apart.
    auto *searchRow = new QHBoxLayout(fmeSearch);
    searchRow->setContentsMargins(0, twipsToPixels(60), 0, twipsToPixels(60));
    searchRow->setSpacing(0);
    searchRow->addWidget(criteriaPanel->filterBar());
    searchRow->addSpacing(twipsToPixels(200));
    searchRow->addWidget(cmdSearch);
    searchRow->addStretch(1);
    searchRow->addWidget(cmdExport);
    searchRow->addSpacing(twipsToPixels(50));
    searchRow->addWidget(cmdShowHideAdvanceSearch);
    criteriaPanel->hide();  // its controls now live in this window's layout

    setMinimumSize(twipsToPixels(12000), twipsToPixels(6000));
    resize(twipsToPixels(12000), twipsToPixels(9300));
}

void frmMain::connectCommands()
{
    const MainActions &a = m_actions;
    connect(a.mnuFileOpen, &QAction::triggered, this, [this] { m_commands->fileOpen(); });
    connect(a.mnuFileDelete, &QAction::triggered, this, [this] { m_commands->fileDelete(); });
    connect(a.mnuFileProperties, &QAction::triggered, this, [this] { m_commands->fileProperties(); });
    connect(a.mnuFileShowContainingFolder, &QAction::triggered, this,
            [this] { m_commands->fileShowContainingFolder(); });
    connect(a.mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(a.mnuEditSelectAll, &QAction::triggered, vsFiles, &ResultGrid::SelectAll);
    connect(a.mnuEditInvertSelection, &QAction::triggered, vsFiles, &ResultGrid::InvertSelection);
    connect(a.mnuExport, &QAction::triggered, this, [this] { m_commands->exportGrid(); });
    connect(a.mnuPreferences, &QAction::triggered, this, [this] { m_commands->preferences(); });
    connect(a.mnuSupport, &QAction::triggered, this, [this] { m_commands->website(); });
    connect(a.mnuHelp1, &QAction::triggered, this, [this] { m_commands->help(); });
    connect(a.mnuAbout, &QAction::triggered, this, [this] { m_commands->about(); });

    connect(cmdSearch, &QPushButton::clicked, this, &frmMain::cmdSearch_Click);
    connect(cmdExport, &QPushButton::clicked, this, [this] { m_commands->exportButton(); });
    connect(cmdShowHideAdvanceSearch, &QPushButton::clicked, this, &frmMain::cmdShowHideAdvanceSearch_Click);

    connect(m_search.get(), &search::SearchCommand::searchFinished, this, &frmMain::searchEnded);
    connect(criteriaPanel, &search::SearchCriteriaPanel::criteriaChanged, m_search.get(),
            &search::SearchCommand::optionsChanged);

    connect(ftv, &FolderTree::folderItemSelected, this, &frmMain::ftv_FolderItemSelected);
    connect(ftv, &FolderTree::selected, this, &frmMain::ftv_Selected);

    m_selectionTotals = new SelectionTotals(*vsFiles, this);
    connect(m_selectionTotals, &SelectionTotals::changed, this,
            [this] { sbGeneral->setSelectionText(m_selectionTotals->text()); });
    // Queued: the drop ends before the search runs, so the program the folder came from is not
    // kept waiting.
    connect(new FolderDropTarget(*this), &FolderDropTarget::folderDropped, this, &frmMain::searchFolderAsPicked,
            Qt::QueuedConnection);

    connect(vsFiles, &ResultGrid::popupRequested, this, [this](QPoint at) { m_actions.mnuPopup->popup(at); });
    connect(vsFiles, &ResultGrid::deleteRequested, this, [this] { m_commands->fileDelete(); });
    connect(vsFiles, &ResultGrid::openRequested, this, [this] { m_commands->fileOpen(); });
    auto *gridCommands = new ResultGridCommands(*vsFiles, [this] { RefreshGrid(); }, this);
    connect(vsFiles, &ResultGrid::copyRequested, gridCommands, &ResultGridCommands::copySelectedRows);
    connect(vsFiles, &ResultGrid::headerMenuRequested, gridCommands, &ResultGridCommands::showColumnMenu);

    m_progress = new SearchProgress(*this);
    m_cancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &frmMain::cancelSearch);
    m_cancelKey->setObjectName(QStringLiteral("keyCancelSearch"));
    m_cancelKey->setEnabled(false);
    auto *repeatKey = new QShortcut(QKeySequence(Qt::Key_F5), this, this, &frmMain::repeatSearch);
    repeatKey->setObjectName(QStringLiteral("keyRepeatSearch"));
}

void frmMain::loadStep()
{
    m_firstActivation = true;
    // The tree gets the narrower pane; the grid takes what is left.
    spSplitter->setSizes({twipsToPixels(3500), width() - twipsToPixels(3500)});
    criteriaPanel->loadDefaults(QDateTime::currentDateTime());

    // Start-up settings: each step on its own, a failing one does not stop the next.
    const modGlobal::SettingsRecord &settings = modGlobal::AppSettings;
    vsFiles->ApplyStartupAppearance(settings);
    ftv->setSelectedFolder(settings.StartupFolder);
    vsFiles->SetUpResultGrid(settings);
    m_search->core().setLanes(settings.CountingLanes);
    if (settings.PageCountCache)
        m_search->core().setPageCountCache(std::make_shared<search::PageCountCache>());

    txtAddress->setReadOnly(true);
}

void frmMain::setCommands(std::unique_ptr<MainCommands> commands)
{
    if (commands)
        m_commands = std::move(commands);
}

void frmMain::ShowStatus(const QString &text, const QString &panelKey)
{
    sbGeneral->setPanelText(panelKey, text);
    emit statusShown(text, panelKey);
}

void frmMain::RefreshGrid()
{
    vsFiles->RefreshGrid(modGlobal::AppSettings);
}

void frmMain::cmdSearch_Click()
{
    if (m_search->isRunning()) {
        m_restartPending = false;
        m_search->cmdSearch_Click(m_currentFolder);  // the button reads "&Cancel": this cancels
        return;
    }
    startSearch();
}

void frmMain::startSearch()
{
    m_searchedFolder = m_currentFolder;
    m_search->cmdSearch_Click(m_currentFolder);
    if (m_search->isRunning()) {
        m_progress->searchStarted();
        m_cancelKey->setEnabled(true);
    }
}

void frmMain::cancelSearch()
{
    if (m_search->isRunning())
        cmdSearch_Click();
}

void frmMain::repeatSearch()
{
    if (m_search->isRunning()) {
        m_restartPending = true;
        m_search->requestCancel();
        return;
    }
    cmdSearch_Click();
}

void frmMain::searchEnded()
{
    // Another folder picked during that search cancelled it; its search starts on a clean grid.
    if (m_restartPending) {
        m_restartPending = false;
        clearRows();
        startSearch();
        return;
    }
    m_progress->searchEnded();
    m_cancelKey->setEnabled(false);
    // Rows come in walk order; the order the header's arrow promised is restored once they are all in.
    vsFiles->SortAgain();
    emit searchFinished();
}

void frmMain::ftv_Selected()
{
    // A pick of the folder being searched cancels, as the Search button does; a pick of another
    // folder cancels and then searches that one, so rows, totals and address describe one folder.
    if (m_search->isRunning() && m_currentFolder != m_searchedFolder) {
        m_restartPending = true;
        m_search->requestCancel();
        return;
    }
    cmdSearch_Click();
}

void frmMain::searchFolderAsPicked(const QString &folder)
{
    ftv->setSelectedFolder(folder);
    ftv_FolderItemSelected(folder);
    ftv_Selected();
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow() || !m_firstActivation)
        return;
    // Only the first activation searches. Cleared before the search runs, so an activation
    // during that search (a dialog closing, say) cannot start it again.
    m_firstActivation = false;
    QTimer::singleShot(0, this, &frmMain::runFirstActivation);
}

void frmMain::runFirstActivation()
{
    m_currentFolder = ftv->selectedFolder();
    txtAddress->setText(m_currentFolder);
    cmdSearch_Click();
    vsFiles->setFocus();
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // A window manager keeps the window at its minimum size; without one (or with one that
    // ignores size hints) it could be made smaller and clip the grid and the criteria: it snaps
    // back, as a resize below the minimum does. Queued: the resize that is being handled ends first.
    if (isMinimized() || isMaximized() || isFullScreen())
        return;
    const QSize minimum = minimumSize();
    if (event->size().width() < minimum.width() || event->size().height() < minimum.height())
        QTimer::singleShot(0, this, [this] {
            const QSize wanted = size().expandedTo(minimumSize());
            if (wanted != size())
                resize(wanted);
        });
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The search stops at once (and no other starts); counting still in progress is abandoned
    // and never reaches this window again.
    m_restartPending = false;
    m_search->requestCancel();
    QMainWindow::closeEvent(event);
}

void frmMain::ftv_FolderItemSelected(const QString &path)
{
    m_currentFolder = path;
    if (!m_currentFolder.endsWith(QLatin1Char('/')))
        m_currentFolder += QLatin1Char('/');
    txtAddress->setText(m_currentFolder);
}

void frmMain::cmdShowHideAdvanceSearch_Click()
{
    QGroupBox *frame = criteriaPanel->advancedFrame();
    const QString tag = cmdShowHideAdvanceSearch->property("Tag").toString();
    if (tag != QLatin1String("Show")) {
        frame->hide();
        cmdShowHideAdvanceSearch->setProperty("Tag", QStringLiteral("Show"));
        cmdShowHideAdvanceSearch->setText(QStringLiteral("Show Advance Option"));
    } else {
        frame->show();
        cmdShowHideAdvanceSearch->setProperty("Tag", QStringLiteral("Hide"));
        cmdShowHideAdvanceSearch->setText(QStringLiteral("Hide Advance Option"));
    }
}

void frmMain::mnuExit_Click()
{
    // Ends the program at once, also in the middle of a search or with other windows open.
    m_restartPending = false;
    m_search->requestCancel();
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

// ---------------------------------------------------------------- search::SearchHost

int frmMain::rowCount() const { return vsFiles->rows(); }
void frmMain::clearRows()
{
    vsFiles->ClearRows();
    m_progress->rowsCleared();
}
void frmMain::appendFile(const search::CountedFile &file, const QPixmap &icon)
{
    vsFiles->AppendFile(file, icon);
    m_progress->rowAdded();
    // Rows come in bursts, and repainting the grid for each costs more than the row itself: a
    // row shows at once, the rows after it within 100 ms are painted together when that ends.
    if (!m_gridPaintPause) {
        m_gridPaintPause = new QTimer(this);
        m_gridPaintPause->setSingleShot(true);
        m_gridPaintPause->setInterval(100);
        connect(m_gridPaintPause, &QTimer::timeout, vsFiles, [this] { vsFiles->setUpdatesEnabled(true); });
    }
    if (m_gridPaintPause->isActive())
        vsFiles->setUpdatesEnabled(false);
    else
        m_gridPaintPause->start();
}
QPixmap frmMain::fileIcon(const QString &fullPath) { return m_icons->DrawFileIcon(fullPath); }
QString frmMain::filterText() const { return criteriaPanel->filterText(); }
void frmMain::setFilterText(const QString &text) { criteriaPanel->setFilterText(text); }
search::SearchOptions frmMain::searchOptions() const
{
    search::SearchOptions options;
    options.criteria = criteriaPanel->criteria();
    options.filterText = options.criteria.filterText;
    options.showHiddenState = options.criteria.showHiddenState;
    options.includeSubfolders = criteriaPanel->includeSubfolders();
    return options;
}
QString frmMain::searchCaption() const { return cmdSearch->text(); }
void frmMain::setSearchCaption(const QString &caption) { cmdSearch->setText(caption); }
void frmMain::showStatus(const QString &text, const QString &panelKey) { ShowStatus(text, panelKey); }
void frmMain::setTotalsText(const QString &text) { lblPageCount->setText(text); }
void frmMain::showUnreadFolders(const QString &text, const QString &details) { unreadFolders->setNotice(text, details); }
