#pragma once
// The chain translator's connection point towards its clients: every client
// sink of ITolviFileTranslatorEvents is kept marshalled (see
// vembro/com/ConnectionPoint.h), so that events can be fired from whatever
// thread a component happens to report on.
//
// Events go through IDispatch::Invoke with DISPID 2 (StateChange) or 3
// (ProgressChange), so that a sink that implements only the dispatch face
// hears them too. Nobody is ever told PropertyChange.
#include "vembro/Vembro.h"
#include "vembro/com/ConnectionPoint.h"

namespace vembro {

class CProxyITolviFileTranslatorEvents : public ConnectionPoint<ITolviFileTranslatorEvents> {
public:
    explicit CProxyITolviFileTranslatorEvents(IConnectionPointContainer* owner) noexcept;

    void Fire_StateChange(long state) noexcept;
    void Fire_ProgressChange(long progress, long maxProgress) noexcept;

private:
    // args in DISPPARAMS order (last argument first).
    void Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept;
};

} // namespace vembro
