#include "WindowLayoutKeeper.h"

#include "FolderTree.h"
#include "ResultGrid.h"
#include "SearchCriteriaPanel.h"
#include "Twips.h"
#include "frmMain.h"

#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>

#include <algorithm>

namespace {

constexpr int kLayoutColumns = 5;

}  // namespace

WindowLayoutKeeper::WindowLayoutKeeper(frmMain &window, QString path)
    : QObject(&window), m_window(window), m_path(std::move(path))
{
    window.installEventFilter(this);
}

QRect WindowLayoutKeeper::firstStartGeometry(const QRect &available, const QSize &minimum)
{
    QSize size(available.width() * 8 / 10, available.height() * 8 / 10);
    size = size.expandedTo(minimum).boundedTo(available.size().expandedTo(minimum));
    QRect r(QPoint(0, 0), size);
    r.moveCenter(available.center());
    // Never off the top-left corner, where the title bar would be out of reach.
    r.moveTopLeft(QPoint(std::max(r.left(), available.left()), std::max(r.top(), available.top())));
    return r;
}

QRect WindowLayoutKeeper::onScreen(const QRect &remembered, const QList<QRect> &availableAreas, const QSize &minimum)
{
    if (availableAreas.isEmpty())
        return remembered;
    for (const QRect &area : availableAreas) {
        if (!area.contains(remembered.center()))
            continue;
        QRect r = remembered;
        r.setSize(r.size().boundedTo(area.size()).expandedTo(minimum));
        // Pull it inside the area so the title bar can be reached.
        if (r.right() > area.right())
            r.moveRight(area.right());
        if (r.bottom() > area.bottom())
            r.moveBottom(area.bottom());
        r.moveTopLeft(QPoint(std::max(r.left(), area.left()), std::max(r.top(), area.top())));
        return r;
    }
    return firstStartGeometry(availableAreas.first(), minimum);
}

int WindowLayoutKeeper::treeWidthFor(int remembered, int total, int treeMinimum, int gridMinimum)
{
    // The grid is what the window is for: it keeps at least half the width, and never less than
    // it needs, whatever a hand-edited or damaged value asks for. The tree keeps its own minimum.
    const int gridShare = std::max(total - total / 2, gridMinimum);
    const int treeMaximum = std::max(treeMinimum, total - gridShare);
    return std::clamp(remembered, treeMinimum, treeMaximum);
}

void WindowLayoutKeeper::restore()
{
    apply(modGlobal::ReadWindowLayout(m_path));
}

void WindowLayoutKeeper::apply(const modGlobal::WindowLayout &layout)
{
    QList<QRect> areas;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            areas << screen->availableGeometry();
    const QSize minimum = m_window.minimumSize();
    if (!layout.NormalGeometry.isNull())
        m_window.setGeometry(onScreen(layout.NormalGeometry, areas, minimum));
    else if (!areas.isEmpty())
        m_window.setGeometry(firstStartGeometry(areas.first(), minimum));
    if (layout.Maximized)
        m_window.setWindowState(m_window.windowState() | Qt::WindowMaximized);

    if (layout.TreeWidth >= 0) {
        const int total = m_window.width();
        const int tree = treeWidthFor(platform::twipsToPixels(layout.TreeWidth), total,
                                      m_window.ftv->minimumSizeHint().width(),
                                      m_window.vsFiles->minimumSizeHint().width());
        m_window.spSplitter->setSizes({tree, std::max(1, total - tree)});
    }
    if (layout.ColumnWidths.size() == kLayoutColumns) {
        for (int c = 0; c < kLayoutColumns; ++c)
            m_window.vsFiles->setColWidth(c, layout.ColumnWidths[c]);
    }
    if (layout.SortColumn >= 0)
        sortAfterFirstSearch(layout.SortColumn, layout.SortOrder);
    const bool shown = !m_window.criteriaPanel->advancedFrame()->isHidden();
    if (layout.AdvancedShown == 0 && shown)
        m_window.cmdShowHideAdvanceSearch->click();
}

void WindowLayoutKeeper::sortAfterFirstSearch(int column, int order)
{
    // The arrow and the next click's direction now; the window sorts the rows of every search
    // by them once it has listed them.
    m_window.vsFiles->SortBy(column, order);
}

modGlobal::WindowLayout WindowLayoutKeeper::capture() const
{
    modGlobal::WindowLayout layout;
    layout.NormalGeometry = m_window.normalGeometry();
    if (layout.NormalGeometry.isEmpty())
        layout.NormalGeometry = m_window.geometry();
    layout.Maximized = m_window.isMaximized();
    const QList<int> sizes = m_window.spSplitter->sizes();
    if (!sizes.isEmpty())
        layout.TreeWidth = platform::pixelsToTwips(sizes.first());
    for (int c = 0; c < kLayoutColumns; ++c)
        layout.ColumnWidths << m_window.vsFiles->colWidth(c);
    if (m_window.vsFiles->sortedColumn() >= 0 && m_window.vsFiles->sortedColumn() < kLayoutColumns) {
        layout.SortColumn = m_window.vsFiles->sortedColumn();
        layout.SortOrder = m_window.vsFiles->sortedOrder();
    }
    layout.AdvancedShown = m_window.criteriaPanel->advancedFrame()->isHidden() ? 0 : 1;
    return layout;
}

bool WindowLayoutKeeper::save(QString *error) const
{
    return modGlobal::WriteWindowLayout(m_path, capture(), error);
}

bool WindowLayoutKeeper::eventFilter(QObject *watched, QEvent *event)
{
    // The layout is a convenience: a settings folder that cannot be written costs the next start
    // its remembered layout, and is not worth a message on the way out.
    if (watched == &m_window && event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}
