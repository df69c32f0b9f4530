#pragma once
// Holders for the descriptions that ITypeInfo lends out (TYPEATTR, FUNCDESC,
// VARDESC) and wants back through its matching Release call.
#include <windows.h>
#include <oaidl.h>

#include "vembro/com/Error.h"

namespace vembro::tools {

template <class Desc, auto Get, auto Free>
class TypeInfoDesc {
public:
    // Throws the HRESULT of the Get call; args come before its out pointer.
    template <class... Args>
    explicit TypeInfoDesc(ITypeInfo* info, Args... args) : m_info(info)
    {
        ThrowIfFailed((info->*Get)(args..., &m_desc));
    }
    TypeInfoDesc(const TypeInfoDesc&) = delete;
    TypeInfoDesc& operator=(const TypeInfoDesc&) = delete;
    ~TypeInfoDesc() { (m_info->*Free)(m_desc); }

    const Desc* operator->() const noexcept { return m_desc; }
    const Desc& operator*() const noexcept { return *m_desc; }

private:
    ITypeInfo* m_info;
    Desc* m_desc = nullptr;
};

using TypeAttr = TypeInfoDesc<TYPEATTR, &ITypeInfo::GetTypeAttr, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = TypeInfoDesc<FUNCDESC, &ITypeInfo::GetFuncDesc, &ITypeInfo::ReleaseFuncDesc>;
using VarDesc = TypeInfoDesc<VARDESC, &ITypeInfo::GetVarDesc, &ITypeInfo::ReleaseVarDesc>;

} // namespace vembro::tools
