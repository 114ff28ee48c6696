#pragma once
// An optional interface of the page counters: lets another thread stop a GetPages call that is in
// progress on the same instance, so a cancelled search does not wait for a slow file. A counter
// that has it answers QueryInterface(IID_IPageCountAbort); one that has not is simply waited for.
//
// Abort may be called from any thread at any time, also when no call is in progress (then it does
// nothing to later calls). The interrupted GetPages returns S_OK with a negative result (gave up).

#include "ComTypes.h"

struct IPageCountAbort : IUnknown {
    virtual HRESULT Abort() = 0;
};

inline constexpr IID IID_IPageCountAbort = comrt::MakeGuid("{B49362F8-F2EF-414B-BC89-B195F4751AA6}");
