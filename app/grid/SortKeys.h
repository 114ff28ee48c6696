#pragma once
// Typed sort keys of one column: numbers, dates and texts, computed once per sort so that the
// comparisons themselves are cheap. Ordering rules shared by every setting:
//   - empty cells go last, in both directions;
//   - in numeric and date columns, text that is no number (or no date), such as "Error", ranks
//     below every value: first when ascending, after the values when descending.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sortkeys {

enum class Kind { Value, Text };

struct ColumnKeys {
    bool descending = false;
    std::vector<uint8_t> cls;  // 0 value, 1 text, 2 empty
    std::vector<double> value;
    // Collation keys of the text cells, one buffer for all: each key is NUL-ended bytes that
    // compare as the texts collate. textAt[row] is the offset of the row's key (rows may share
    // one); textAt stays empty while no cell is text.
    std::string textKeys;
    std::vector<size_t> textAt;

    const char *textKey(size_t row) const { return textKeys.data() + textAt[row]; }
    // Appends other's keys to this buffer; returns what to add to other's offsets to use them.
    size_t appendTextKeys(const ColumnKeys &other);
};

// The collation text columns sort by: the user's language (English where the locale is C), case
// blind or not, numbers in the text read as numbers or not. Keys made by one collation compare
// byte for byte as QCollator with the same settings compares the texts.
class Collation
{
public:
    Collation(bool caseSensitive, bool numeric);
    ~Collation();
    Collation(const Collation &) = delete;
    Collation &operator=(const Collation &) = delete;

    // Appends the key of text to out, NUL included; returns the key's offset in out.
    size_t appendKey(QStringView text, std::string &out) const;

private:
    void *m_collator = nullptr;  // the ICU collator; null: code-point order
    bool m_caseSensitive;
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

// The same, made by several threads at once when there are many cells. textAt(i, scratch) is
// called from those threads: it may keep the text it returns in scratch (one per thread) and
// must touch nothing else that changes.
ColumnKeys buildKeysInParallel(int count, const std::function<QStringView(int, QString &scratch)> &textAt, int setting,
                               const QString &dateFormat);

// <0, 0, >0 for rows a and b of the keys.
int compare(const ColumnKeys &keys, int a, int b);

// The rows of one column's keys in the order compare() gives, equal rows in their own order.
// Values are sorted as plain (value, row) pairs, which is what makes a large sort fast.
std::vector<int> stableOrder(const ColumnKeys &keys);

}  // namespace sortkeys
