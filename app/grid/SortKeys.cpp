#include "SortKeys.h"

#include "FlexGridEnums.h"

#include <QDateTime>
#include <QLocale>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace sortkeys {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == QChar(0x00A0) || c == QChar(0x202F) || c == u'\t';
}

enum class Field { Year, Month, Day, Hour12, Hour24, Minute, Second, AmPm };

struct DatePattern {
    std::vector<Field> fields;
    bool valid = false;
};

DatePattern parsePattern(const QString &format)
{
    DatePattern p;
    int i = 0;
    const int n = int(format.size());
    while (i < n) {
        const QChar c = format.at(i);
        int run = 1;
        while (i + run < n && format.at(i + run) == c)
            ++run;
        switch (c.unicode()) {
        case 'y': p.fields.push_back(Field::Year); break;
        case 'M':
            if (run > 2)
                return {};  // month names are not read
            p.fields.push_back(Field::Month);
            break;
        case 'd':
            if (run > 2)
                return {};
            p.fields.push_back(Field::Day);
            break;
        case 'h': p.fields.push_back(Field::Hour12); break;
        case 'H': p.fields.push_back(Field::Hour24); break;
        case 'm': p.fields.push_back(Field::Minute); break;
        case 's': p.fields.push_back(Field::Second); break;
        case 'A':
        case 'a':
            p.fields.push_back(Field::AmPm);
            if (i + run < n && (format.at(i + run) == u'P' || format.at(i + run) == u'p'))
                ++run;
            break;
        case '\'':
            // quoted literal: skip to the closing quote
            run = 1;
            while (i + run < n && format.at(i + run) != u'\'')
                ++run;
            ++run;
            break;
        default: break;
        }
        i += run;
    }
    bool hasAmPm = false;
    for (Field f : p.fields)
        hasAmPm = hasAmPm || f == Field::AmPm;
    if (!hasAmPm)
        for (Field &f : p.fields)
            if (f == Field::Hour12)
                f = Field::Hour24;
    p.valid = !p.fields.empty();
    return p;
}

struct AmPmTexts {
    QString am, pm;
};

std::optional<double> readDate(QStringView text, const DatePattern &pattern, const AmPmTexts &ampm)
{
    if (!pattern.valid)
        return std::nullopt;
    int year = -1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int pmState = -1;  // -1 unknown, 0 am, 1 pm
    const QChar *p = text.constData();
    const int n = int(text.size());
    int pos = 0;
    for (Field f : pattern.fields) {
        if (f == Field::AmPm) {
            // Designator: the first run of letters from here.
            while (pos < n && !p[pos].isLetter())
                ++pos;
            const int start = pos;
            while (pos < n && (p[pos].isLetter() || p[pos] == u'.'))
                ++pos;
            const QStringView word(p + start, pos - start);
            if (word.isEmpty())
                return std::nullopt;
            if ((!ampm.pm.isEmpty() && word.compare(ampm.pm, Qt::CaseInsensitive) == 0) ||
                word.compare(u"PM", Qt::CaseInsensitive) == 0)
                pmState = 1;
            else if ((!ampm.am.isEmpty() && word.compare(ampm.am, Qt::CaseInsensitive) == 0) ||
                     word.compare(u"AM", Qt::CaseInsensitive) == 0)
                pmState = 0;
            else
                return std::nullopt;
            continue;
        }
        while (pos < n && !p[pos].isDigit())
            ++pos;
        if (pos >= n)
            return std::nullopt;
        int v = 0;
        int digits = 0;
        while (pos < n && p[pos].isDigit() && digits < 9) {
            v = v * 10 + p[pos].digitValue();
            ++pos;
            ++digits;
        }
        switch (f) {
        case Field::Year: year = v; break;
        case Field::Month: month = v; break;
        case Field::Day: day = v; break;
        case Field::Hour12:
        case Field::Hour24: hour = v; break;
        case Field::Minute: minute = v; break;
        case Field::Second: second = v; break;
        case Field::AmPm: break;
        }
    }
    // Anything but blanks after the last field means this is not such a date.
    while (pos < n && isBlank(p[pos]))
        ++pos;
    if (pos < n)
        return std::nullopt;
    bool twelveHour = false;
    for (Field f : pattern.fields)
        twelveHour = twelveHour || f == Field::Hour12;
    if (twelveHour) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        if (pmState == 1 && hour != 12)
            hour += 12;
        else if (pmState == 0 && hour == 12)
            hour = 0;
    }
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return double(((((int64_t(year) * 13 + month) * 32 + day) * 24 + hour) * 60 + minute) * 61 + second);
}

std::optional<double> readIsoDate(QStringView text)
{
    const QDateTime dt = QDateTime::fromString(text.trimmed().toString(), Qt::ISODate);
    if (!dt.isValid())
        return std::nullopt;
    const QDate d = dt.date();
    const QTime t = dt.time();
    return double(((((int64_t(d.year()) * 13 + d.month()) * 32 + d.day()) * 24 + t.hour()) * 60 + t.minute()) * 61 +
                  t.second());
}

struct NumberChars {
    QChar decimal;
    QChar group;
};

NumberChars localeNumberChars()
{
    const QLocale loc;
    const QString dec = loc.decimalPoint();
    const QString grp = loc.groupSeparator();
    NumberChars c;
    c.decimal = dec.size() == 1 ? dec.at(0) : QChar(u'.');
    c.group = grp.size() == 1 ? grp.at(0) : QChar(u',');
    return c;
}

std::optional<double> readNumber(QStringView text, const NumberChars &chars)
{
    const QChar *p = text.constData();
    int n = int(text.size());
    int pos = 0;
    while (pos < n && isBlank(p[pos]))
        ++pos;
    while (n > pos && isBlank(p[n - 1]))
        --n;
    if (pos >= n)
        return std::nullopt;
    bool negative = false;
    if (p[pos] == u'-' || p[pos] == u'+') {
        negative = p[pos] == u'-';
        ++pos;
    }
    double v = 0;
    bool anyDigit = false;
    // integer part with digit groups
    while (pos < n) {
        const QChar c = p[pos];
        if (c.isDigit()) {
            v = v * 10 + c.digitValue();
            anyDigit = true;
            ++pos;
        } else if (anyDigit && (c == chars.group || (c == u',' && chars.decimal != u',') || c == QChar(0x00A0) ||
                                c == QChar(0x202F)) &&
                   pos + 1 < n && p[pos + 1].isDigit()) {
            ++pos;
        } else {
            break;
        }
    }
    if (pos < n && (p[pos] == chars.decimal || p[pos] == u'.') && pos + 1 < n && p[pos + 1].isDigit()) {
        ++pos;
        double scale = 0.1;
        while (pos < n && p[pos].isDigit()) {
            v += scale * p[pos].digitValue();
            scale /= 10;
            anyDigit = true;
            ++pos;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    if (pos < n) {
        // a unit after a blank: letters only
        if (!isBlank(p[pos]))
            return std::nullopt;
        while (pos < n && isBlank(p[pos]))
            ++pos;
        for (; pos < n; ++pos)
            if (!p[pos].isLetter())
                return std::nullopt;
    }
    return negative ? -v : v;
}

}  // namespace

std::optional<double> parseNumber(QStringView text)
{
    return readNumber(text, localeNumberChars());
}

std::optional<double> parseDateTime(QStringView text, const QString &format)
{
    const QLocale loc;
    const AmPmTexts ampm{loc.amText(), loc.pmText()};
    if (auto v = readDate(text, parsePattern(format), ampm))
        return v;
    return readIsoDate(text);
}

size_t ColumnKeys::appendTextKeys(const ColumnKeys &other)
{
    const size_t base = textKeys.size();
    textKeys += other.textKeys;
    return base;
}

Collation::Collation(bool caseSensitive, bool numeric) : m_caseSensitive(caseSensitive)
{
    // The same collator QCollator makes for these settings, so that keys order as it compares;
    // its keys are made here straight into one buffer, without an allocation per key.
    // The C locale compares code points only; text columns still want a language-aware order.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    const QByteArray name = locale.bcp47Name().replace('-', '_').toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    UCollator *c = ucol_open(name.constData(), &status);
    if (U_FAILURE(status)) {
        if (c)
            ucol_close(c);
        return;
    }
    ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setAttribute(c, UCOL_STRENGTH, caseSensitive ? UCOL_DEFAULT_STRENGTH : UCOL_SECONDARY, &status);
    ucol_setAttribute(c, UCOL_NUMERIC_COLLATION, numeric ? UCOL_ON : UCOL_OFF, &status);
    ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    if (U_FAILURE(status)) {
        ucol_close(c);
        return;
    }
    m_collator = c;
}

Collation::~Collation()
{
    if (m_collator)
        ucol_close(static_cast<UCollator *>(m_collator));
}

size_t Collation::appendKey(QStringView text, std::string &out) const
{
    const size_t at = out.size();
    if (!m_collator) {
        // No collator: code-point order, each UTF-16 unit as three bytes none of which is NUL.
        const QString folded = m_caseSensitive ? text.toString() : text.toString().toCaseFolded();
        out.reserve(at + size_t(folded.size()) * 3 + 1);
        for (const QChar ch : folded) {
            const char16_t u = ch.unicode();
            out.push_back(char(1 + (u >> 12)));
            out.push_back(char(1 + ((u >> 6) & 0x3F)));
            out.push_back(char(1 + (u & 0x3F)));
        }
        out.push_back('\0');
        return at;
    }
    const auto *collator = static_cast<const UCollator *>(m_collator);
    const auto *units = reinterpret_cast<const UChar *>(text.utf16());
    const int32_t length = int32_t(std::min<qsizetype>(text.size(), INT32_MAX));
    // Room for a usual key at once; a longer one is asked for again with its size.
    size_t room = size_t(length) * 4 + 16;
    out.resize(at + room);
    int32_t made = ucol_getSortKey(collator, units, length, reinterpret_cast<uint8_t *>(out.data() + at), int32_t(room));
    if (made > int32_t(room)) {
        room = size_t(made);
        out.resize(at + room);
        made = ucol_getSortKey(collator, units, length, reinterpret_cast<uint8_t *>(out.data() + at), int32_t(room));
    }
    // made counts the closing NUL; nothing made (which ICU does not do for a valid collator) is
    // an empty key.
    out.resize(at + size_t(std::max(made, int32_t(1))));
    out.back() = '\0';
    return at;
}

ColumnKeys buildKeys(int count, const std::function<QStringView(int)> &textAt, int setting, const QString &dateFormat)
{
    ColumnKeys keys;
    keys.descending = setting == FlexGridEnums::SortGenericDescending || setting == FlexGridEnums::SortNumericDescending ||
                      setting == FlexGridEnums::SortStringNoCaseDescending || setting == FlexGridEnums::SortStringDescending ||
                      setting == FlexGridEnums::SortDateDescending;
    const bool numeric = setting == FlexGridEnums::SortGenericAscending || setting == FlexGridEnums::SortGenericDescending ||
                         setting == FlexGridEnums::SortNumericAscending || setting == FlexGridEnums::SortNumericDescending;
    const bool date = setting == FlexGridEnums::SortDateAscending || setting == FlexGridEnums::SortDateDescending;

    // File names with numbers read naturally ("scan2" before "scan10") in the generic sorts.
    const Collation collation(setting == FlexGridEnums::SortStringAscending || setting == FlexGridEnums::SortStringDescending,
                              numeric);

    const NumberChars chars = localeNumberChars();
    const DatePattern pattern = parsePattern(dateFormat);
    const QLocale loc;
    const AmPmTexts ampm{loc.amText(), loc.pmText()};

    keys.cls.resize(size_t(count));
    keys.value.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        const QStringView t = textAt(i);
        std::optional<double> v;
        if (t.isEmpty()) {
            keys.cls[size_t(i)] = 2;
            continue;
        }
        if (numeric)
            v = readNumber(t, chars);
        else if (date) {
            v = readDate(t, pattern, ampm);
            if (!v)
                v = readIsoDate(t);
        }
        if (v) {
            keys.cls[size_t(i)] = 0;
            keys.value[size_t(i)] = *v;
        } else {
            keys.cls[size_t(i)] = 1;
            if (keys.textAt.empty())
                keys.textAt.resize(size_t(count));
            keys.textAt[size_t(i)] = collation.appendKey(t, keys.textKeys);
        }
    }
    return keys;
}

ColumnKeys buildKeysInParallel(int count, const std::function<QStringView(int, QString &scratch)> &textAt, int setting,
                               const QString &dateFormat)
{
    // Collation keys cost most of a text sort of many rows; below this, threads cost more than
    // they save.
    constexpr int kCellsPerThread = 50000;
    const int threads = std::clamp(std::min(int(std::thread::hardware_concurrency()), 4), 1,
                                   std::max(1, count / kCellsPerThread));
    const auto part = [&](int first, int n) {
        QString scratch;
        return buildKeys(n, [&](int i) { return textAt(first + i, scratch); }, setting, dateFormat);
    };
    if (threads == 1)
        return part(0, count);
    std::vector<ColumnKeys> parts(static_cast<size_t>(threads));
    std::vector<std::thread> running;
    const int step = (count + threads - 1) / threads;
    for (int t = 1; t < threads; ++t)
        running.emplace_back([&, t] { parts[size_t(t)] = part(t * step, std::min(step, count - t * step)); });
    parts[0] = part(0, std::min(step, count));
    for (std::thread &th : running)
        th.join();
    ColumnKeys keys = std::move(parts[0]);
    for (size_t t = 1; t < parts.size(); ++t) {
        ColumnKeys &p = parts[t];
        const size_t rowsBefore = keys.cls.size();
        if (!p.textAt.empty()) {
            if (keys.textAt.empty())
                keys.textAt.resize(rowsBefore);
            const size_t base = keys.appendTextKeys(p);
            for (size_t &at : p.textAt)
                at += base;
            keys.textAt.insert(keys.textAt.end(), p.textAt.begin(), p.textAt.end());
        } else if (!keys.textAt.empty()) {
            keys.textAt.resize(rowsBefore + p.cls.size());
        }
        keys.cls.insert(keys.cls.end(), p.cls.begin(), p.cls.end());
        keys.value.insert(keys.value.end(), p.value.begin(), p.value.end());
    }
    return keys;
}

int compare(const ColumnKeys &keys, int a, int b)
{
    const uint8_t ca = keys.cls[size_t(a)];
    const uint8_t cb = keys.cls[size_t(b)];
    if ((ca == 2) != (cb == 2))
        return ca == 2 ? 1 : -1;  // empty cells last whatever the direction
    if (ca == 2)
        return 0;
    int c = 0;
    if (ca != cb) {
        c = ca == 1 ? -1 : 1;  // text ranks below values
    } else if (ca == 0) {
        const double va = keys.value[size_t(a)];
        const double vb = keys.value[size_t(b)];
        c = va < vb ? -1 : (vb < va ? 1 : 0);
    } else {
        c = std::strcmp(keys.textKey(size_t(a)), keys.textKey(size_t(b)));
        c = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return keys.descending ? -c : c;
}

std::vector<int> stableOrder(const ColumnKeys &keys)
{
    const size_t n = keys.cls.size();
    std::vector<std::pair<double, int>> values;
    std::vector<std::pair<const char *, int>> texts;
    std::vector<int> empties;
    values.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        switch (keys.cls[i]) {
        case 0: values.emplace_back(keys.value[i], int(i)); break;
        case 1: texts.emplace_back(keys.textKey(i), int(i)); break;
        default: empties.push_back(int(i)); break;
        }
    }
    if (keys.descending)
        std::stable_sort(values.begin(), values.end(), [](const auto &a, const auto &b) { return b.first < a.first; });
    else
        std::stable_sort(values.begin(), values.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::stable_sort(texts.begin(), texts.end(), [&](const auto &a, const auto &b) {
        const int c = std::strcmp(a.first, b.first);
        return keys.descending ? c > 0 : c < 0;
    });
    // Text ranks below values (first ascending, after them descending); empty cells go last.
    std::vector<int> order;
    order.reserve(n);
    const auto appendValues = [&] {
        for (const auto &v : values)
            order.push_back(v.second);
    };
    const auto appendTexts = [&] {
        for (const auto &t : texts)
            order.push_back(t.second);
    };
    if (keys.descending) {
        appendValues();
        appendTexts();
    } else {
        appendTexts();
        appendValues();
    }
    order.insert(order.end(), empties.begin(), empties.end());
    return order;
}

}  // namespace sortkeys
