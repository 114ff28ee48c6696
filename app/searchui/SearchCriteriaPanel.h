#pragma once
// The criteria controls of the main window: the filter row (filter list, "Include Subfolder",
// "Show Hidden Files") and the "Advance Search Options" frame with the date and size windows.
// The main window may take filterBar() and advancedFrame() into its own layout; the panel keeps
// working with them wherever they sit, as long as they live in the same window.

#include "SearchCriteria.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QRadioButton;

namespace platform {
class NumberBox;
class UpDown;
}

namespace search {

class SearchCriteriaPanel : public QWidget {
    Q_OBJECT
public:
    // Builds the controls and gives them their start values for the current time.
    explicit SearchCriteriaPanel(QWidget *parent = nullptr);

    // Refills the lists and puts every control back to its start value; the date pickers get
    // now minus one calendar month and now. "Date" and "Size" stay as they are.
    void loadDefaults(const QDateTime &now);

    // The values of the controls at this moment.
    SearchCriteria criteria() const;

    QString filterText() const;
    // Selects the filter item with exactly this text; other texts are ignored.
    void setFilterText(const QString &text);
    bool includeSubfolders() const;

    // Row holding lblFilter, cmbFilterPattern, chkSearchIncSubFlder, chkShowHidden; its layout
    // has room for the main window's buttons after them.
    QWidget *filterBar() const { return m_filterBar; }
    QHBoxLayout *filterBarLayout() const { return m_filterBarLayout; }
    QGroupBox *advancedFrame() const { return fmeAdvancedSearchOptions; }

    QComboBox *filterCombo() const { return cmbFilterPattern; }
    QCheckBox *showHiddenBox() const { return chkShowHidden; }
    QCheckBox *includeSubfolderBox() const { return chkSearchIncSubFlder; }

signals:
    // The filter item changed (by the user or by setFilterText).
    void filterTextChanged(const QString &text);
    // Any criteria control changed.
    void criteriaChanged();

private:
    QWidget *m_filterBar;
    QHBoxLayout *m_filterBarLayout;
    QLabel *lblFilter;
    QComboBox *cmbFilterPattern;
    QCheckBox *chkShowHidden;
    QCheckBox *chkSearchIncSubFlder;

    QGroupBox *fmeAdvancedSearchOptions;
    QGroupBox *fmeSearchByDate;
    QCheckBox *chkSearchByDate;
    QComboBox *cmbDateRangeType;
    QRadioButton *optInPeriod;
    platform::NumberBox *txtInPeriod;
    platform::UpDown *udInPeriod;
    QComboBox *cmbDateInPeriod;
    QRadioButton *optBtnPeriod;
    QDateTimeEdit *dtpDateFrom;
    QDateTimeEdit *dtpDateTo;

    QGroupBox *fmeSearchBySize;
    QCheckBox *chkSearchBySize;
    QRadioButton *optSizeAt;
    QComboBox *cmbLeastMost;
    platform::NumberBox *txtSizeLeastMost;
    platform::UpDown *udSizeLeastMost;
    QRadioButton *optSizeBtn;
    platform::NumberBox *txtSizeFrom;
    platform::UpDown *udSizeFrom;
    platform::NumberBox *txtSizeTo;
    platform::UpDown *udSizeTo;
};

}  // namespace search
