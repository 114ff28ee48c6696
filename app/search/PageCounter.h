#pragma once
// How the search reaches the page counters: one PageCounter per component instance, made by a
// PageCounterFactory. Each counting lane owns one factory and creates, calls and releases its
// counters on its own thread; only abort() is called from elsewhere.

#include "PageResult.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace search {

class PageCounter
{
public:
    virtual ~PageCounter() = default;
    // The counter's answer (0 or more pages, negative = the file was rejected), or nothing when
    // the call itself failed.
    virtual std::optional<int32_t> getPages(const QByteArray &path) = 0;
    // Asks a getPages call in progress on another thread to give up soon. Safe at any time; a
    // counter that cannot be interrupted ignores it and the call is simply left to finish.
    virtual void abort() {}
    // True when the counter can work ahead of the calls (see prefetch).
    virtual bool prefetches() const { return false; }
    // The files the next getPages calls will ask for, in that order; a hint the counter may use to
    // count them back to back.
    virtual void prefetch(const std::vector<QByteArray> &) {}
    // What makes this counter's answers what they are (its library file and version), for
    // remembering them; empty when its answers must not be remembered.
    virtual QByteArray identity() const { return {}; }
};

class PageCounterFactory
{
public:
    virtual ~PageCounterFactory() = default;
    // A new counter instance, or null when the component cannot be created; then
    // lastCreateError() says why, in words, when that is known.
    virtual std::unique_ptr<PageCounter> create(CounterKind kind) = 0;
    virtual QString lastCreateError() const { return {}; }
};

// Creates CTIFFPageCount and CPDFPageCounter by class identifier through the component runtime.
std::unique_ptr<PageCounterFactory> makeComPageCounterFactory();

}  // namespace search
