#include "SearchCriteriaPanel.h"

#include "NumberBox.h"
#include "UpDown.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace search {

namespace {

constexpr int kUpDownMax = 9'999'999;

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Typed text stays as typed: an item picked by a case-blind completer would turn a text the
// tests do not know into one they do.
QComboBox *editableCombo(const char *name, QWidget *parent)
{
    auto *combo = named(new QComboBox(parent), name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
    return combo;
}

platform::NumberBox *numberBox(const char *name, QWidget *parent)
{
    auto *box = named(new platform::NumberBox(parent), name);
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QLatin1String("99999999")) + 16);
    return box;
}

platform::UpDown *upDown(const char *name, platform::NumberBox *buddy, QWidget *parent)
{
    auto *ud = named(new platform::UpDown(parent), name);
    ud->setRange(0, kUpDownMax);
    ud->setIncrement(1);
    ud->setBuddy(buddy);
    return ud;
}

// A number box with its arrows glued to its right edge.
QWidget *spinPair(platform::NumberBox *box, platform::UpDown *ud, QWidget *parent)
{
    auto *pair = new QWidget(parent);
    auto *layout = new QHBoxLayout(pair);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    box->setParent(pair);
    ud->setParent(pair);
    layout->addWidget(box);
    layout->addWidget(ud);
    ud->setFixedHeight(box->sizeHint().height());
    return pair;
}

// Widgets side by side at their natural widths, left-aligned.
QWidget *row(QWidget *parent, std::initializer_list<QWidget *> widgets)
{
    auto *holder = new QWidget(parent);
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *w : widgets) {
        w->setParent(holder);
        layout->addWidget(w);
    }
    layout->addStretch(1);
    return holder;
}

QDateTimeEdit *datePicker(const char *name, QWidget *parent)
{
    auto *picker = named(new QDateTimeEdit(parent), name);
    picker->setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
    picker->setCalendarPopup(true);
    picker->setTimeSpec(Qt::LocalTime);
    return picker;
}

int tickState(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked: return Ticked;
    case Qt::PartiallyChecked: return Greyed;
    case Qt::Unchecked: break;
    }
    return Unticked;
}

}  // namespace

SearchCriteriaPanel::SearchCriteriaPanel(QWidget *parent)
    : QWidget(parent)
{
    // Filter row.
    m_filterBar = new QWidget(this);
    m_filterBarLayout = new QHBoxLayout(m_filterBar);
    m_filterBarLayout->setContentsMargins(0, 0, 0, 0);
    m_filterBar->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    lblFilter = named(new QLabel(tr("Filter"), m_filterBar), "lblFilter");
    cmbFilterPattern = named(new QComboBox(m_filterBar), "cmbFilterPattern");
    cmbFilterPattern->setEditable(false);
    cmbFilterPattern->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lblFilter->setBuddy(cmbFilterPattern);
    chkSearchIncSubFlder = named(new QCheckBox(tr("Include Subfolder"), m_filterBar), "chkSearchIncSubFlder");
    chkShowHidden = named(new QCheckBox(tr("Show Hidden Files"), m_filterBar), "chkShowHidden");
    m_filterBarLayout->addWidget(lblFilter);
    m_filterBarLayout->addWidget(cmbFilterPattern);
    m_filterBarLayout->addSpacing(12);
    m_filterBarLayout->addWidget(chkSearchIncSubFlder);
    m_filterBarLayout->addSpacing(12);
    m_filterBarLayout->addWidget(chkShowHidden);
    connect(cmbFilterPattern, &QComboBox::currentTextChanged, this, &SearchCriteriaPanel::filterTextChanged);

    fmeAdvancedSearchOptions = named(new QGroupBox(tr("Advance Search Options"), this), "fmeAdvancedSearchOptions");

    // Date window.
    fmeSearchByDate = named(new QGroupBox(fmeAdvancedSearchOptions), "fmeSearchByDate");
    chkSearchByDate = named(new QCheckBox(tr("Date"), fmeSearchByDate), "chkSearchByDate");
    cmbDateRangeType = editableCombo("cmbDateRangeType", fmeSearchByDate);
    optInPeriod = named(new QRadioButton(tr("in the last"), fmeSearchByDate), "optInPeriod");
    txtInPeriod = numberBox("txtInPeriod", fmeSearchByDate);
    txtInPeriod->setDigitsOnly(true);
    udInPeriod = upDown("udInPeriod", txtInPeriod, fmeSearchByDate);
    cmbDateInPeriod = editableCombo("cmbDateInPeriod", fmeSearchByDate);
    optBtnPeriod = named(new QRadioButton(tr("between"), fmeSearchByDate), "optBtnPeriod");
    dtpDateFrom = datePicker("dtpDateFrom", fmeSearchByDate);
    dtpDateTo = datePicker("dtpDateTo", fmeSearchByDate);
    auto *dateOptions = new QButtonGroup(fmeSearchByDate);
    dateOptions->addButton(optInPeriod);
    dateOptions->addButton(optBtnPeriod);

    auto *dateGrid = new QGridLayout(fmeSearchByDate);
    dateGrid->addWidget(chkSearchByDate, 0, 0);
    dateGrid->addWidget(cmbDateRangeType, 0, 1, Qt::AlignLeft);
    dateGrid->addWidget(optInPeriod, 1, 0);
    dateGrid->addWidget(row(fmeSearchByDate, {spinPair(txtInPeriod, udInPeriod, fmeSearchByDate), cmbDateInPeriod}), 1, 1);
    dateGrid->addWidget(optBtnPeriod, 2, 0);
    dateGrid->addWidget(row(fmeSearchByDate, {dtpDateFrom, new QLabel(tr("and"), fmeSearchByDate), dtpDateTo}), 2, 1);
    dateGrid->setColumnStretch(1, 1);

    // Size window.
    fmeSearchBySize = named(new QGroupBox(fmeAdvancedSearchOptions), "fmeSearchBySize");
    chkSearchBySize = named(new QCheckBox(tr("Size"), fmeSearchBySize), "chkSearchBySize");
    optSizeAt = named(new QRadioButton(tr("at"), fmeSearchBySize), "optSizeAt");
    cmbLeastMost = editableCombo("cmbLeastMost", fmeSearchBySize);
    txtSizeLeastMost = numberBox("txtSizeLeastMost", fmeSearchBySize);
    udSizeLeastMost = upDown("udSizeLeastMost", txtSizeLeastMost, fmeSearchBySize);
    optSizeBtn = named(new QRadioButton(tr("between"), fmeSearchBySize), "optSizeBtn");
    txtSizeFrom = numberBox("txtSizeFrom", fmeSearchBySize);
    udSizeFrom = upDown("udSizeFrom", txtSizeFrom, fmeSearchBySize);
    txtSizeTo = numberBox("txtSizeTo", fmeSearchBySize);
    udSizeTo = upDown("udSizeTo", txtSizeTo, fmeSearchBySize);
    auto *sizeOptions = new QButtonGroup(fmeSearchBySize);
    sizeOptions->addButton(optSizeAt);
    sizeOptions->addButton(optSizeBtn);

    auto *sizeGrid = new QGridLayout(fmeSearchBySize);
    sizeGrid->addWidget(chkSearchBySize, 0, 0);
    sizeGrid->addWidget(optSizeAt, 1, 0);
    sizeGrid->addWidget(row(fmeSearchBySize, {cmbLeastMost, spinPair(txtSizeLeastMost, udSizeLeastMost, fmeSearchBySize),
                                              new QLabel(tr("KB"), fmeSearchBySize)}),
                        1, 1);
    sizeGrid->addWidget(optSizeBtn, 2, 0);
    sizeGrid->addWidget(row(fmeSearchBySize, {spinPair(txtSizeFrom, udSizeFrom, fmeSearchBySize),
                                              new QLabel(tr("to"), fmeSearchBySize),
                                              spinPair(txtSizeTo, udSizeTo, fmeSearchBySize),
                                              new QLabel(tr("KB"), fmeSearchBySize)}),
                        2, 1);
    sizeGrid->setColumnStretch(1, 1);

    auto *advancedLayout = new QHBoxLayout(fmeAdvancedSearchOptions);
    advancedLayout->addWidget(fmeSearchByDate, 3);
    advancedLayout->addWidget(fmeSearchBySize, 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(fmeAdvancedSearchOptions);
    layout->addWidget(m_filterBar, 0, Qt::AlignLeft);

    // Any change of any control: a running search reads the criteria as they stand.
    for (QCheckBox *box : findChildren<QCheckBox *>())
        connect(box, &QCheckBox::stateChanged, this, &SearchCriteriaPanel::criteriaChanged);
    for (QComboBox *list : findChildren<QComboBox *>())
        connect(list, &QComboBox::currentTextChanged, this, &SearchCriteriaPanel::criteriaChanged);
    for (QRadioButton *option : findChildren<QRadioButton *>())
        connect(option, &QRadioButton::toggled, this, &SearchCriteriaPanel::criteriaChanged);
    for (QLineEdit *box : findChildren<QLineEdit *>())
        connect(box, &QLineEdit::textChanged, this, &SearchCriteriaPanel::criteriaChanged);
    for (QDateTimeEdit *picker : findChildren<QDateTimeEdit *>())
        connect(picker, &QDateTimeEdit::dateTimeChanged, this, &SearchCriteriaPanel::criteriaChanged);

    loadDefaults(QDateTime::currentDateTime());
}

void SearchCriteriaPanel::loadDefaults(const QDateTime &now)
{
    cmbDateRangeType->clear();
    cmbDateRangeType->addItems({tr("Files Created"), tr("Files Modified"), tr("Files Last Accessed")});
    cmbDateInPeriod->clear();
    cmbDateInPeriod->addItems({tr("Day(s)"), tr("Month(s)")});
    cmbLeastMost->clear();
    cmbLeastMost->addItems({tr("Least"), tr("Most")});
    {
        const QSignalBlocker quiet(cmbFilterPattern);
        cmbFilterPattern->clear();
        cmbFilterPattern->addItems({QStringLiteral("*.pdf,*.tif,*.tiff"), QStringLiteral("*.pdf"),
                                    QStringLiteral("*.tif"), QStringLiteral("*.tiff"),
                                    QStringLiteral("*.tif,*.tiff")});
        cmbFilterPattern->setCurrentIndex(0);
    }
    emit filterTextChanged(cmbFilterPattern->currentText());

    chkSearchIncSubFlder->setChecked(false);
    chkShowHidden->setChecked(false);
    cmbDateRangeType->setCurrentText(tr("Files Modified"));
    txtInPeriod->setText(QStringLiteral("1"));
    cmbDateInPeriod->setCurrentText(tr("Day(s)"));
    dtpDateFrom->setDateTime(now.addMonths(-1));
    dtpDateTo->setDateTime(now);
    optBtnPeriod->setChecked(true);
    cmbLeastMost->setCurrentText(tr("Least"));
    txtSizeLeastMost->setText(QStringLiteral("0"));
    txtSizeFrom->setText(QStringLiteral("0"));
    txtSizeTo->setText(QStringLiteral("10"));
    optSizeAt->setChecked(true);
}

SearchCriteria SearchCriteriaPanel::criteria() const
{
    SearchCriteria c;
    c.filterText = cmbFilterPattern->currentText();
    c.showHiddenState = tickState(chkShowHidden);
    c.dateTestOn = tickState(chkSearchByDate) == Ticked;
    c.dateKind = cmbDateRangeType->currentText();
    c.inTheLastMode = optInPeriod->isChecked();
    c.periodCountText = txtInPeriod->text();
    c.periodUnit = cmbDateInPeriod->currentText();
    c.rangeStart = dtpDateFrom->dateTime();
    c.rangeEnd = dtpDateTo->dateTime();
    c.sizeTestOn = tickState(chkSearchBySize) == Ticked;
    c.atMode = optSizeAt->isChecked();
    c.leastOrMost = cmbLeastMost->currentText();
    c.sizeLimitText = txtSizeLeastMost->text();
    c.sizeFromText = txtSizeFrom->text();
    c.sizeToText = txtSizeTo->text();
    return c;
}

QString SearchCriteriaPanel::filterText() const
{
    return cmbFilterPattern->currentText();
}

void SearchCriteriaPanel::setFilterText(const QString &text)
{
    const int index = cmbFilterPattern->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        cmbFilterPattern->setCurrentIndex(index);
}

bool SearchCriteriaPanel::includeSubfolders() const
{
    return chkSearchIncSubFlder->isChecked();
}

}  // namespace search
