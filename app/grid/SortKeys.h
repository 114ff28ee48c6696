#pragma once
// Typed sort keys of one column: numbers, dates and texts, computed once per sort so that the
// comparisons themselves are cheap. Ordering rules shared by every setting:
//   - empty cells go last, in both directions;
//   - in numeric and date columns, text that is no number (or no date), such as "Error", ranks
//     below every value: first when ascending, after the values when descending.

#include <QCollatorSortKey>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sortkeys {

enum class Kind { Value, Text };

struct ColumnKeys {
    bool descending = false;
    std::vector<uint8_t> cls;  // 0 value, 1 text, 2 empty
    std::vector<double> value;
    std::vector<std::optional<QCollatorSortKey>> text;  // set for text cells only
};

// Number in a cell: optional sign, digits with digit-group separators (the locale's, "," or a
// blank), an optional decimal part, and optionally a unit after a blank ("1,234 KB").
std::optional<double> parseNumber(QStringView text);

// Date and time read with a QDateTime-style pattern ("MM/dd/yyyy hh:mm AP"): numbers are taken
// in the order of the pattern's fields, AM/PM by the locale's texts (or "AM"/"PM"). Also accepts
// ISO 8601. Returns a value that orders like the time.
std::optional<double> parseDateTime(QStringView text, const QString &format);

// textAt(i) must stay valid until the next call.
ColumnKeys buildKeys(int count, const std::function<QStringView(int)> &textAt, int setting, const QString &dateFormat);

// <0, 0, >0 for rows a and b of the keys.
int compare(const ColumnKeys &keys, int a, int b);

// The rows of one column's keys in the order compare() gives, equal rows in their own order.
// Values are sorted as plain (value, row) pairs, which is what makes a large sort fast.
std::vector<int> stableOrder(const ColumnKeys &keys);

}  // namespace sortkeys
