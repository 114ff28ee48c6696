#pragma once
// An optional interface of the page counters: tells an instance which files its next GetPages
// calls will ask for, in that order, so it can work ahead of them (the PDF counter queues them to
// its helper process, which then counts one after the other without waiting for each call).
//
// The answers are the same as without it. A GetPages call for any other file than the next one
// announced drops what is still announced; so does releasing the instance. Announcing is a hint:
// a counter may take only the first few files, or none.

#include "ComTypes.h"

struct IPageCountPrefetch : IUnknown {
    virtual HRESULT Prefetch(const BSTR* filenames, ULONG count) = 0;
};

inline constexpr IID IID_IPageCountPrefetch = comrt::MakeGuid("{5D0E7C41-8A3B-4F26-9C1D-7E2B4A6F9D03}");
