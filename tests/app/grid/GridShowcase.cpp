// Three result grids side by side in different line styles, for looking at the drawing.
#include "AppSettings.h"
#include "FileIcons.h"
#include "ResultGrid.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto *row = new QHBoxLayout(&window);
    FileIcons icons;
    const int styles[] = {argc > 1 ? atoi(argv[1]) : 1, argc > 2 ? atoi(argv[2]) : 2, argc > 3 ? atoi(argv[3]) : 13};
    const char *exts[] = {"tif", "pdf", "txt", "TIF", "png", ""};
    for (int s : styles) {
        auto *col = new QVBoxLayout;
        col->addWidget(new QLabel(QStringLiteral("GridStyle %1").arg(s)));
        auto *grid = new ResultGrid;
        modGlobal::SettingsRecord settings = modGlobal::SettingsRecord::defaults();
        settings.GridStyle = uint8_t(s);
        if (argc > 4 && s == styles[1])
            settings.BackPicture = QString::fromLocal8Bit(argv[4]);
        grid->ApplyStartupAppearance(settings);
        grid->SetUpResultGrid(settings);
        for (int i = 0; i < 300; ++i) {
            const QString ext = QString::fromLatin1(exts[i % 6]);
            ResultRow r;
            r.FileName = QStringLiteral("document_%1").arg(i, 4, 10, QChar(u'0')) + (ext.isEmpty() ? "" : "." + ext);
            r.Location = QStringLiteral("/home/user/scans/batch%1").arg(i / 50);
            r.SizeKb = ResultGrid::sizeKbText((i * 7919) % 20000);
            r.ModifiedDate = ResultGrid::modifiedDateText(QDateTime(QDate(2004, 12, 1).addDays(i), QTime(i % 24, i % 60)));
            r.FullPath = r.Location + "/" + r.FileName;
            r.Pages = i % 11 == 0 ? QStringLiteral("Error") : ext.compare("tif", Qt::CaseInsensitive) == 0 || ext == "pdf"
                                                                    ? QString::number(i % 37)
                                                                    : QString();
            r.Icon = icons.DrawFileIcon(r.FullPath);
            grid->AppendResultRow(r);
        }
        grid->setIsSelected(3, true);
        grid->setIsSelected(4, true);
        grid->setRow(4);
        grid->sortByColumn(ColSize, FlexGrid::SortedAscending);
        emit grid->afterSort(ColSize, FlexGrid::SortedAscending);
        col->addWidget(grid);
        row->addLayout(col);
    }
    window.resize(1580, 960);
    window.move(0, 0);
    window.show();
    return app.exec();
}
