#include "SearchFilters.h"

#include "WildcardMatch.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace search {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// [+-] digits [. digits] [e [+-] digits], or the same with no digits before the point.
bool isDecimalNumber(QStringView t)
{
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (i < n && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(t[i]))
        ++i, ++digits;
    if (i < n && t[i] == u'.') {
        ++i;
        while (i < n && isDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        qsizetype expDigits = 0;
        while (i < n && isDigit(t[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return false;
    }
    return i == n;
}

// The date part. False when the file falls outside the window or anything cannot be worked out.
bool passesDate(const FoundFile &file, const SearchCriteria &c, const QDateTime &now)
{
    const QDate today = now.date();
    if (!today.isValid())
        return false;
    QDate start;
    QDate end;
    if (c.inTheLastMode) {
        const auto count = TextToWholeNumber(c.periodCountText, std::numeric_limits<int16_t>::min(),
                                             std::numeric_limits<int16_t>::max());
        if (!count)
            return false;
        end = today;
        if (*count < 1)
            start = today;
        else if (c.periodUnit == u"Day(s)")
            start = today.addDays(-*count);
        else
            start = today.addMonths(int(-*count));  // clamps to the target month's last day
    } else {
        start = c.rangeStart.date();
        end = c.rangeEnd.date();
    }
    if (!start.isValid() || !end.isValid())
        return false;

    const QDateTime *stamp = nullptr;
    if (c.dateKind == u"Files Modified")
        stamp = &file.modified;
    else if (c.dateKind == u"Files Created")
        stamp = &file.created;
    else if (c.dateKind == u"Files Last Accessed")
        stamp = &file.accessed;
    else
        return true;  // a kind the box does not list: no date comparison
    if (!stamp->isValid())
        return false;
    // The end day counts whole: the window closes at the start of the day after it.
    const QDateTime lower = start.startOfDay();
    const QDateTime upperExclusive = end.addDays(1).startOfDay();
    if (!lower.isValid() || !upperExclusive.isValid())
        return false;
    return *stamp >= lower && *stamp < upperExclusive;
}

bool passesSize(const FoundFile &file, const SearchCriteria &c)
{
    const auto kb = SizeInKilobytes(file.size);
    if (!kb)
        return false;
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    if (c.atMode) {
        const auto limit = TextToWholeNumber(c.sizeLimitText, lo, hi);
        if (!limit)
            return false;
        return c.leastOrMost == u"Least" ? *kb >= *limit : *kb <= *limit;
    }
    const auto to = TextToWholeNumber(c.sizeToText, lo, hi);
    const auto from = TextToWholeNumber(c.sizeFromText, lo, hi);
    if (!to || !from)
        return false;
    return *from <= *kb && *kb <= *to;
}

}  // namespace

bool PassesHiddenRule(const FoundFile &file, int showHiddenState)
{
    if (showHiddenState == Ticked)
        return true;
    if (showHiddenState == Unticked)
        return !file.hidden;
    return false;
}

bool FilterMatchesEverything(QStringView filterText)
{
    const QStringView t = trimBlanks(filterText);
    return t.isEmpty() || t == u"*.*";
}

PatternList ParsePatternList(const QString &filterText)
{
    if (trimBlanks(filterText) == u"*.*")
        return {};
    if (filterText.contains(u';'))
        return filterText.split(u';');
    if (filterText.contains(u','))
        return filterText.split(u',');
    return {filterText};
}

bool MatchesAnyPattern(QStringView fileName, const PatternList &patterns)
{
    for (const QString &pattern : patterns)
        if (!pattern.isEmpty() && platform::pathMatchSpec(fileName, pattern))
            return true;
    return false;
}

bool PassesDateSizeFilter(const FoundFile &file, const SearchCriteria &criteria, const QDateTime &now)
{
    if (criteria.dateTestOn && !passesDate(file, criteria, now))
        return false;
    if (criteria.sizeTestOn && !passesSize(file, criteria))
        return false;
    return true;
}

bool PassesDateSizeFilter(const FoundFile &file, const SearchCriteria &criteria)
{
    // The local clock costs a look at the time zone file every time: read it only when a date
    // test needs it.
    return PassesDateSizeFilter(file, criteria, criteria.dateTestOn ? QDateTime::currentDateTime() : QDateTime());
}

std::optional<int32_t> CeilingToLong(double value)
{
    if (std::isnan(value))
        return std::nullopt;
    const double c = std::ceil(value);
    if (c < double(std::numeric_limits<int32_t>::min()) || c > double(std::numeric_limits<int32_t>::max()))
        return std::nullopt;
    return int32_t(c);
}

std::optional<int32_t> SizeInKilobytes(qint64 bytes)
{
    return CeilingToLong(double(bytes) / 1024.0);
}

std::optional<int64_t> TextToWholeNumber(QStringView text, int64_t minimum, int64_t maximum)
{
    const QStringView t = trimBlanks(text);
    if (!isDecimalNumber(t))
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double whole = std::nearbyint(value);  // default rounding: halves to even
    if (std::fabs(whole) >= 9.0e18 || whole < double(minimum) || whole > double(maximum))
        return std::nullopt;
    return int64_t(whole);
}

}  // namespace search
