#pragma once
// The tests the folder walk applies to every file: hidden rule, name patterns, date and size.
// Pure functions of the file's facts and the criteria; none of them throws.

#include "SearchCriteria.h"

#include <QStringView>
#include <cstdint>
#include <optional>

namespace search {

// Ticked: every file passes. Unticked: files without the hidden flag pass. Greyed: none.
bool PassesHiddenRule(const FoundFile &file, int showHiddenState);

// True when the trimmed filter text is "*.*" or empty: the walk then skips the pattern test.
bool FilterMatchesEverything(QStringView filterText);

// "*.*" (trimmed) gives an empty list; otherwise split at every ";" if there is one, else at
// every ","; pieces are kept as they are, empty ones included.
PatternList ParsePatternList(const QString &filterText);

// True when the name matches an entry (wildcards, letter case ignored). Empty entries match nothing.
bool MatchesAnyPattern(QStringView fileName, const PatternList &patterns);

// The date window and the size window. Any failure (a box that holds no usable number, a date
// out of range, a size too large) makes the file fail. The end day of a date window counts
// whole, so "in the last" includes today.
bool PassesDateSizeFilter(const FoundFile &file, const SearchCriteria &criteria, const QDateTime &now);
bool PassesDateSizeFilter(const FoundFile &file, const SearchCriteria &criteria);

// The smallest whole number not below value, when it fits 32 signed bits.
std::optional<int32_t> CeilingToLong(double value);
// A byte count as whole kilobytes, rounded up (0 -> 0, 1 -> 1, 1025 -> 2).
std::optional<int32_t> SizeInKilobytes(qint64 bytes);

// The number in a box: blanks around it allowed, a fraction taken to the nearest whole number
// (an exact half to the even neighbour), then checked against [minimum, maximum]. Empty text,
// text that is not a number, and values outside the range give nothing.
std::optional<int64_t> TextToWholeNumber(QStringView text, int64_t minimum, int64_t maximum);

}  // namespace search
