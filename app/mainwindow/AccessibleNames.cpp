#include "AccessibleNames.h"

#include "frmMain.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QToolButton>

namespace {

struct Name {
    const char *objectName;
    const char *accessibleName;
};

// By the controls' object names, so this table stays the one place the names live.
const Name kNames[] = {
    {"ftv", "Folders"},
    {"vsFiles", "Files found"},
    {"txtAddress", "Address"},
    {"cmbFilterPattern", "Filter"},
    {"cmbDateRangeType", "Date of the files"},
    {"txtInPeriod", "In the last"},
    {"udInPeriod", "In the last"},
    {"cmbDateInPeriod", "Days or months"},
    {"dtpDateFrom", "Date from"},
    {"dtpDateTo", "Date to"},
    {"cmbLeastMost", "At least or at most"},
    {"txtSizeLeastMost", "Size in KB"},
    {"udSizeLeastMost", "Size in KB"},
    {"txtSizeFrom", "Size from, in KB"},
    {"udSizeFrom", "Size from, in KB"},
    {"txtSizeTo", "Size to, in KB"},
    {"udSizeTo", "Size to, in KB"},
};

}  // namespace

void nameForAssistiveTools(frmMain &window)
{
    for (const Name &n : kNames) {
        auto *w = window.findChild<QWidget *>(QLatin1String(n.objectName));
        if (!w)
            continue;
        const QString name = QString::fromLatin1(n.accessibleName);
        w->setAccessibleName(name);
        if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->lineEdit())
            combo->lineEdit()->setAccessibleName(name);
        // The arrows of an up-down pair: each says which box it steps and which way.
        const QList<QToolButton *> arrows = w->findChildren<QToolButton *>(Qt::FindDirectChildrenOnly);
        for (QToolButton *arrow : arrows)
            arrow->setAccessibleName(name + (arrow->arrowType() == Qt::UpArrow ? QStringLiteral(", up")
                                                                             : QStringLiteral(", down")));
    }
}
