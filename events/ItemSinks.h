#pragma once
// The sinks through which a chain translator listens to the component of its
// running step. They hold no reference on their owner, so a component never
// keeps its chain translator alive; but a component's worker may be inside a
// sink, or about to enter one, when the client lets the translator go. So
// the sinks reach the owner through a shared link that the owner clears
// before anything of it is torn down, and every call takes a reference on
// the owner for its duration, or does nothing once the owner is going.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"

namespace vembro {

// What the sinks call on their owner, the chain translator; fromConverter is
// 1 for a converter sink, 0 for a translator sink.
class CItemListener {
public:
    // A reference for one call, unless the owner is already going away.
    virtual bool TryAddRef() noexcept = 0;
    virtual void ReleaseRef() noexcept = 0;
    virtual void OnItemProgress(int fromConverter, LONG progress, LONG maxProgress) noexcept = 0;
    virtual void OnItemState(int fromConverter, LONG state) noexcept = 0;

protected:
    ~CItemListener() = default;
};

class CItemOwner {
public:
    explicit CItemOwner(CItemListener* owner) noexcept : m_pOwner(owner) {}
    // Deletes the files handed over by KeepFiles.
    ~CItemOwner();
    // The owner with a reference for the caller, or null once it is going.
    CItemListener* Acquire() noexcept;
    // Called by the owner when its count has reached zero.
    void Clear() noexcept;
    // The intermediate files of the run that has just ended, which a
    // component that reported its end too early may still write: deleted
    // again when the next run ends, or when the last sink lets go of this
    // link (every component has released its sink). Those of the run before
    // are deleted again now.
    void KeepFiles(std::vector<std::string> files) noexcept;

private:
    CriticalSection m_cs;
    CItemListener* m_pOwner;
    std::vector<std::string> m_files;
};

// Runs `call` on the owner, holding a reference, unless it is gone.
template <class Call>
void CallOwner(const std::shared_ptr<CItemOwner>& link, Call call) noexcept
{
    CItemListener* owner = link ? link->Acquire() : nullptr;
    if (!owner)
        return;
    call(owner);
    owner->ReleaseRef();
}

// Scales a step's progress into the band of 100 units that the step owns in
// a chain of `items` steps: (item * 100 + progress * 100 / maxProgress,
// items * 100), in 32-bit signed arithmetic truncating toward zero. Answers
// false, and nothing is to be fired, when maxProgress is not positive (no
// fraction can be formed) or when any part of the result does not fit into
// 32 bits: a wrong figure would be worse for a progress bar than a missing
// one, and the component's next report is relayed normally.
bool ScaleChainProgress(LONG item, LONG items, LONG progress, LONG maxProgress, LONG& scaled,
                        LONG& scaledMax) noexcept;

// Both sinks hand every report to their owner, saying which kind they are.
template <class I, int fromConverter>
class CItemSink : public CComObjectRootEx, public VembroDispatch<I> {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(CItemSink, I), VEMBRO_QI_AS(CItemSink, IID_IDispatch, I),
                                        VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP ProgressChange(LONG Progress, LONG MaxProgress) noexcept override
    {
        CallOwner(m_pOwner, [&](CItemListener* o) { o->OnItemProgress(fromConverter, Progress, MaxProgress); });
        return S_OK;
    }
    STDMETHODIMP StateChange(LONG State) noexcept override
    {
        CallOwner(m_pOwner, [&](CItemListener* o) { o->OnItemState(fromConverter, State); });
        return S_OK;
    }

    std::shared_ptr<CItemOwner> m_pOwner;
};

class CTolviFileConverterEvents : public CItemSink<ITolviFileConverterEvents, 1> {};

class CTolviFileTranslatorEvents : public CItemSink<ITolviFileTranslatorEvents, 0> {
public:
    // A chain translator's clients never see a component's property changes.
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
};

} // namespace vembro
