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

class CTolviChainFileTranslator;

class CItemOwner {
public:
    explicit CItemOwner(CTolviChainFileTranslator* owner) noexcept : m_pOwner(owner) {}
    // Deletes the files handed over by KeepFiles.
    ~CItemOwner();
    // The owner with a reference for the caller, or null once it is going.
    CTolviChainFileTranslator* Acquire() noexcept;
    static void Release(CTolviChainFileTranslator* owner) noexcept;
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
    CTolviChainFileTranslator* m_pOwner;
    std::vector<std::string> m_files;
};

// Runs `call` on the owner, holding a reference, unless it is gone.
template <class Call>
void CallOwner(const std::shared_ptr<CItemOwner>& link, Call call) noexcept
{
    CTolviChainFileTranslator* owner = link ? link->Acquire() : nullptr;
    if (!owner)
        return;
    call(owner);
    CItemOwner::Release(owner);
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

class CTolviFileConverterEvents : public CComObjectRootEx, public VembroDispatch<ITolviFileConverterEvents> {
public:
    static const QIEntry* QITable() noexcept;

    STDMETHODIMP ProgressChange(LONG Progress, LONG MaxProgress) noexcept override;
    STDMETHODIMP StateChange(LONG State) noexcept override;

    std::shared_ptr<CItemOwner> m_pOwner;
};

class CTolviFileTranslatorEvents : public CComObjectRootEx, public VembroDispatch<ITolviFileTranslatorEvents> {
public:
    static const QIEntry* QITable() noexcept;

    STDMETHODIMP PropertyChange(VARIANT Prop, VARIANT newVal) noexcept override;
    STDMETHODIMP StateChange(LONG State) noexcept override;
    STDMETHODIMP ProgressChange(LONG Progress, LONG MaxProgress) noexcept override;

    std::shared_ptr<CItemOwner> m_pOwner;
};

} // namespace vembro
