#pragma once
// Page counters for window tests that answer by the file's name instead of reading it: a name
// holding "=N" (such as "scan=-4.pdf" or "book=12.tif") gets N; any other name gets 1. A kind
// made "missing" cannot be created, as when its component is not registered.

#include "SearchCommand.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <memory>
#include <set>

namespace testwindow {

class NamedCounter final : public search::PageCounter
{
public:
    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        static const QRegularExpression code(QStringLiteral("=(-?\\d+)"));
        const auto match = code.match(QFileInfo(QFile::decodeName(path)).fileName());
        return match.hasMatch() ? match.captured(1).toInt() : 1;
    }
};

class NamedCounters final : public search::PageCounterFactory
{
public:
    explicit NamedCounters(std::set<search::CounterKind> missing = {}) : m_missing(std::move(missing)) {}
    std::unique_ptr<search::PageCounter> create(search::CounterKind kind) override
    {
        if (m_missing.count(kind))
            return nullptr;
        return std::make_unique<NamedCounter>();
    }

private:
    std::set<search::CounterKind> m_missing;
};

// One NamedCounters per counting lane.
inline search::SearchCore::FactoryMaker namedCounters(std::set<search::CounterKind> missing = {})
{
    return [missing] { return std::make_unique<NamedCounters>(missing); };
}

}  // namespace testwindow
