#pragma once
// Rows kept as values rather than texts: a grid model may hand some of its rows to such a store,
// which makes their cell texts when they are asked for and gives typed sort keys, so that a large
// listing keeps its facts once and never parses its own display texts back.

#include "SortKeys.h"

#include <QString>

#include <cstdint>
#include <vector>

class FlexGridRowValues
{
public:
    virtual ~FlexGridRowValues() = default;

    // The cell text of row id in column col, exactly as a text row would hold it.
    virtual QString text(uint32_t id, int col) const = 0;
    // The cell's tooltip; empty for none.
    virtual QString toolTip(uint32_t id, int col) const = 0;
    // Keys of column col for the rows ids (in that order), ordering as the keys sortkeys::buildKeys
    // makes from the cells' texts with this setting do. False: no typed order for this column and
    // setting; the caller sorts on the texts.
    virtual bool sortKeys(const std::vector<uint32_t> &ids, int col, int setting, const QString &dateFormat,
                          sortkeys::ColumnKeys &keys) const = 0;
    // Every row is gone from the grid: the store may drop all it holds.
    virtual void clear() = 0;
};
