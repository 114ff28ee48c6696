#pragma once
// What a page counter's answer means, in words: the one place that turns a result code into the
// text the grid's tooltip, the Properties window and the command-line counter show.

#include "PageCountResult.h"

#include <QString>

#include <cstdint>

namespace search {

enum class CounterKind { Tiff, Pdf };

// The counters' own codes (0 or more is a page count).
constexpr int32_t kCannotOpen = pagecount::CannotOpen;
constexpr int32_t kWrongSignature = pagecount::WrongSignature;
constexpr int32_t kDamaged = pagecount::Damaged;
constexpr int32_t kNeedsPassword = pagecount::NeedsPassword;
constexpr int32_t kGaveUp = pagecount::GaveUp;
// Codes of our own, for a count that never reached a counter's answer.
constexpr int32_t kCounterMissing = -100;  // the component could not be created
constexpr int32_t kCallFailed = -101;      // the call itself returned a failure status

// The reason a count failed, as a sentence without a full stop ("Cannot open the file"); empty
// when the code is a usable page count. A TIFF of 0 pages is a header libtiff could not read.
QString pageResultReason(CounterKind kind, int32_t code);

}  // namespace search
