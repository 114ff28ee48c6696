#pragma once
// Gives the main window the layout it had when it last closed (geometry, maximized state, tree
// width, column widths, sort, advanced options), or the first-start layout when none is
// remembered, and writes the layout back to the settings file when the window closes.

#include "WindowLayout.h"

#include <QObject>
#include <QRect>
#include <QString>

class frmMain;

class WindowLayoutKeeper : public QObject
{
    Q_OBJECT
public:
    // path: the settings file holding the layout section.
    WindowLayoutKeeper(frmMain &window, QString path);

    // Reads the file and applies its layout; call before the window is first shown.
    void restore();
    void apply(const modGlobal::WindowLayout &layout);
    // The window's layout as it is now.
    modGlobal::WindowLayout capture() const;
    // Writes capture() into the file; false with *error when that failed.
    bool save(QString *error = nullptr) const;

    // The first window: about 80% of the available area, never below minimum nor beyond the
    // area, centred in it.
    static QRect firstStartGeometry(const QRect &available, const QSize &minimum);
    // A remembered area made to fit a screen: kept when its centre lies on one (shrunk to that
    // screen's available area if larger), else the first-start area of the primary screen.
    static QRect onScreen(const QRect &remembered, const QList<QRect> &availableAreas, const QSize &minimum);

    // The tree's width for a remembered one, in pixels: at least the tree's minimum, and small
    // enough that the grid keeps at least half of total (and at least gridMinimum).
    static int treeWidthFor(int remembered, int total, int treeMinimum, int gridMinimum);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sortAfterFirstSearch(int column, int order);

    frmMain &m_window;
    QString m_path;
};
