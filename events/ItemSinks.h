#pragma once
// The sinks through which a chain translator listens to the component of its
// running step. They hold a plain pointer to their owner and no reference, so
// a component never keeps its chain translator alive; the owner disconnects
// them before it lets a component go.
#include <windows.h>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"

namespace vembro {

class CTolviChainFileTranslator;

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

    CTolviChainFileTranslator* m_pOwner = nullptr;
};

class CTolviFileTranslatorEvents : public CComObjectRootEx, public VembroDispatch<ITolviFileTranslatorEvents> {
public:
    static const QIEntry* QITable() noexcept;

    STDMETHODIMP PropertyChange(VARIANT Prop, VARIANT newVal) noexcept override;
    STDMETHODIMP StateChange(LONG State) noexcept override;
    STDMETHODIMP ProgressChange(LONG Progress, LONG MaxProgress) noexcept override;

    CTolviChainFileTranslator* m_pOwner = nullptr;
};

} // namespace vembro
