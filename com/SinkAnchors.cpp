#include "vembro/com/SinkAnchors.h"

#include <objidl.h>
#include <wrl/client.h>
#include <utility>

namespace vembro {

using Microsoft::WRL::ComPtr;

namespace {

ComPtr<IGlobalInterfaceTable> GlobalTable() noexcept
{
    ComPtr<IGlobalInterfaceTable> git;
    if (FAILED(::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(git.GetAddressOf()))))
        git.Reset();
    return git;
}

} // namespace

DWORD CSinkAnchors::Register_nothrow(IUnknown* sink) noexcept
{
    ComPtr<IGlobalInterfaceTable> git = GlobalTable();
    DWORD anchor = 0;
    if (!git || FAILED(git->RegisterInterfaceInGlobal(sink, IID_IUnknown, &anchor)))
        return 0;
    return anchor;
}

void CSinkAnchors::Revoke(DWORD anchor) noexcept
{
    if (anchor == 0)
        return;
    if (ComPtr<IGlobalInterfaceTable> git = GlobalTable())
        git->RevokeInterfaceFromGlobal(anchor);
}

BOOL CSinkAnchors::Set(DWORD cookie, DWORD anchor) noexcept
try {
    if (cookie == 0)
        return FALSE;
    if (m_anchors.size() < cookie)
        m_anchors.resize(cookie, 0);
    m_anchors[cookie - 1] = anchor;
    return TRUE;
} catch (...) {
    return FALSE;
}

DWORD CSinkAnchors::Take(DWORD cookie) noexcept
{
    if (cookie == 0 || cookie > m_anchors.size())
        return 0;
    return std::exchange(m_anchors[cookie - 1], 0);
}

std::vector<DWORD> CSinkAnchors::TakeAll() noexcept
{
    return std::exchange(m_anchors, {});
}

} // namespace vembro
