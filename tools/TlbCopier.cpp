#include "tools/TlbCopier.h"

#include <oleauto.h>

#include <cwchar>
#include <iterator>
#include <vector>

#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "tools/MsftFixup.h"
#include "tools/TypeInfoDesc.h"

using Microsoft::WRL::ComPtr;

namespace vembro::tools {
namespace {

struct PublishedType {
    const wchar_t* name;
    TYPEKIND kind; // TKIND_INTERFACE stands for a dual interface
};

// The published index order of the library: clients call
// ITypeLib::GetTypeInfo with these positions.
constexpr PublishedType kPublishedOrder[] = {
    { L"tagFILETRANSLATORSTATE", TKIND_ENUM },
    { L"ITolviFileTranslatorEvents", TKIND_INTERFACE },
    { L"ITolviFileConverterEvents", TKIND_INTERFACE },
    { L"ITolviFileTranslator2", TKIND_INTERFACE },
    { L"ITolviFileTranslator", TKIND_INTERFACE },
    { L"ITolviFileFormat", TKIND_INTERFACE },
    { L"tagFILEDATATYPE", TKIND_ENUM },
    { L"ITolviFileTranslator3", TKIND_INTERFACE },
    { L"ITolviFileConverter2", TKIND_INTERFACE },
    { L"ITolviFileConverter", TKIND_INTERFACE },
    { L"ITolviFileConverter3", TKIND_INTERFACE },
    { L"TolviFTManager", TKIND_COCLASS },
    { L"ITolviFTManager", TKIND_INTERFACE },
    { L"ITolviFileFormats", TKIND_INTERFACE },
};
constexpr std::size_t kTypeCount = std::size(kPublishedOrder);
constexpr std::size_t npos = static_cast<std::size_t>(-1);

// What MIDL gives a dual interface; the platform stores it as a dispatch
// type whose interface half carries the virtual table.
constexpr UINT kDualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
constexpr UINT kCoclassFlags = TYPEFLAG_FCANCREATE;
// Enumerations are 32-bit on every target.
constexpr UINT kEnumSize = 4;

// Names of a member: its own first, then its parameters'.
std::vector<unique_bstr> MemberNames(ITypeInfo* info, MEMBERID memid, UINT max)
{
    std::vector<BSTR> raw(max, nullptr);
    UINT count = 0;
    ThrowIfFailed(info->GetNames(memid, raw.data(), max, &count));
    std::vector<unique_bstr> names;
    names.reserve(count);
    for (UINT i = 0; i < count; ++i)
        names.emplace_back(raw[i]);
    return names;
}

unique_bstr HelpString(ITypeInfo* info, MEMBERID memid)
{
    unique_bstr doc;
    ThrowIfFailed(info->GetDocumentation(memid, nullptr, doc.put(), nullptr, nullptr));
    return doc;
}

unique_bstr TypeName(ITypeInfo* info)
{
    unique_bstr name;
    ThrowIfFailed(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    return name;
}

// Identity, version, help string and flags of a type.
void CopyTypeHeader(ITypeInfo* source, ICreateTypeInfo2* target, UINT flags)
{
    TypeAttr attr(source);
    if (!::IsEqualGUID(attr->guid, GUID_NULL))
        ThrowIfFailed(target->SetGuid(attr->guid));
    ThrowIfFailed(target->SetVersion(attr->wMajorVerNum, attr->wMinorVerNum));
    if (unique_bstr doc = HelpString(source, MEMBERID_NIL))
        ThrowIfFailed(target->SetDocString(doc.get()));
    if (flags)
        ThrowIfFailed(target->SetTypeFlags(flags));
}

std::size_t PublishedIndexOfName(const wchar_t* name) noexcept
{
    for (std::size_t i = 0; i < kTypeCount; ++i) {
        if (name && std::wcscmp(kPublishedOrder[i].name, name) == 0)
            return i;
    }
    return npos;
}

bool IsDual(ITypeInfo* info)
{
    TypeAttr attr(info);
    return attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
}

// The interface half of a dual interface.
ComPtr<ITypeInfo> InterfaceHalf(ITypeInfo* dispatchHalf)
{
    HREFTYPE ref = 0;
    ThrowIfFailed(dispatchHalf->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ComPtr<ITypeInfo> half;
    ThrowIfFailed(dispatchHalf->GetRefTypeInfo(ref, &half));
    return half;
}

// Slots of a virtual table in the loading process, from the offsets that
// the loader hands out in its own pointer size.
UINT VtableSlots(ITypeInfo* info)
{
    TypeAttr attr(info);
    UINT slots = 0;
    if (attr->cImplTypes > 0) {
        HREFTYPE ref = 0;
        ThrowIfFailed(info->GetRefTypeOfImplType(0, &ref));
        ComPtr<ITypeInfo> base;
        ThrowIfFailed(info->GetRefTypeInfo(ref, &base));
        slots = VtableSlots(base.Get());
    }
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDesc func(info, i);
        const UINT slot = static_cast<UINT>(func->oVft) / sizeof(void*) + 1;
        if (slot > slots)
            slots = slot;
    }
    return slots;
}

GUID LibraryGuid(ITypeLib* lib)
{
    TLIBATTR* attr = nullptr;
    ThrowIfFailed(lib->GetLibAttr(&attr));
    GUID guid = attr->guid;
    lib->ReleaseTLibAttr(attr);
    return guid;
}

} // namespace

TlbCopier::TlbCopier(SYSKIND syskind) noexcept
    : m_syskind(syskind), m_ptrSize(syskind == SYS_WIN64 ? 8 : 4)
{
}

HRESULT TlbCopier::Copy_nothrow(const wchar_t* source, const wchar_t* target) noexcept
try {
    Copy(source, target);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT TlbCopier::Verify_nothrow(const wchar_t* target) noexcept
try {
    Verify(target);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

void TlbCopier::Copy(const wchar_t* source, const wchar_t* target)
{
    LoadSource(source);
    CreateTarget(target);
    for (std::size_t i = 0; i < kTypeCount; ++i)
        Fill(i);
    Step("SaveAllChanges");
    ThrowIfFailed(m_target->SaveAllChanges());

    Step("correcting the stored sizes");
    MsftFile file(target);
    for (std::size_t i = 0; i < kTypeCount; ++i) {
        if (kPublishedOrder[i].kind == TKIND_INTERFACE)
            file.SetVtableSize(i, m_slots[i] * m_ptrSize);
        else if (kPublishedOrder[i].kind == TKIND_ENUM)
            file.SetInstanceSize(i, kEnumSize);
    }
    file.Save();
}

void TlbCopier::LoadSource(const wchar_t* source)
{
    Step("loading the source library");
    ThrowIfFailed(::LoadTypeLibEx(source, REGKIND_NONE, &m_source));
    m_sourceGuid = LibraryGuid(m_source.Get());

    Step("matching the source types to the published order");
    // Every type of the source must have its place, and every place a type:
    // a type added to the interface definitions without a place here fails
    // the build instead of silently moving the others.
    if (m_source->GetTypeInfoCount() != kTypeCount)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);
    m_sourceTypes.resize(kTypeCount);
    for (UINT i = 0; i < kTypeCount; ++i) {
        ComPtr<ITypeInfo> info;
        ThrowIfFailed(m_source->GetTypeInfo(i, &info));
        const std::size_t index = PublishedIndexOfName(TypeName(info.Get()).get());
        if (index == npos || m_sourceTypes[index])
            ThrowHr(TYPE_E_ELEMENTNOTFOUND);
        const TYPEKIND kind = kPublishedOrder[index].kind;
        if (kind == TKIND_INTERFACE) {
            if (!IsDual(info.Get()))
                ThrowHr(TYPE_E_BADMODULEKIND);
            info = InterfaceHalf(info.Get());
        } else if (TypeAttr(info.Get())->typekind != kind) {
            ThrowHr(TYPE_E_BADMODULEKIND);
        }
        m_sourceTypes[index] = info;
    }
}

void TlbCopier::CreateTarget(const wchar_t* target)
{
    Step("CreateTypeLib2");
    ThrowIfFailed(::CreateTypeLib2(m_syskind, target, &m_target));

    Step("copying the library attributes");
    TLIBATTR* attr = nullptr;
    ThrowIfFailed(m_source->GetLibAttr(&attr));
    const TLIBATTR libAttr = *attr;
    m_source->ReleaseTLibAttr(attr);
    unique_bstr name;
    unique_bstr doc;
    ThrowIfFailed(m_source->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr));
    ThrowIfFailed(m_target->SetName(name.get()));
    if (doc)
        ThrowIfFailed(m_target->SetDocString(doc.get()));
    ThrowIfFailed(m_target->SetGuid(libAttr.guid));
    ThrowIfFailed(m_target->SetVersion(libAttr.wMajorVerNum, libAttr.wMinorVerNum));
    ThrowIfFailed(m_target->SetLcid(libAttr.lcid));
    ThrowIfFailed(m_target->SetLibFlags(0));

    Step("creating the types");
    m_targetTypes.resize(kTypeCount);
    m_state.assign(kTypeCount, FillState::Empty);
    m_slots.assign(kTypeCount, 0);
    for (std::size_t i = 0; i < kTypeCount; ++i) {
        ComPtr<ICreateTypeInfo> created;
        ThrowIfFailed(m_target->CreateTypeInfo(const_cast<LPOLESTR>(kPublishedOrder[i].name),
                                               kPublishedOrder[i].kind, &created));
        ThrowIfFailed(created.As(&m_targetTypes[i]));
    }
}

void TlbCopier::Fill(std::size_t index)
{
    if (m_state[index] == FillState::Done)
        return;
    if (m_state[index] == FillState::Filling)
        ThrowHr(TYPE_E_CIRCULARTYPE); // an interface that derives from itself
    m_state[index] = FillState::Filling;
    switch (kPublishedOrder[index].kind) {
    case TKIND_ENUM:
        FillEnum(index);
        break;
    case TKIND_INTERFACE:
        FillInterface(index);
        break;
    default:
        FillCoclass(index);
        break;
    }
    m_state[index] = FillState::Done;
}

void TlbCopier::FillEnum(std::size_t index)
{
    Step("copying an enumeration");
    ITypeInfo* source = m_sourceTypes[index].Get();
    ICreateTypeInfo2* target = m_targetTypes[index].Get();
    TypeAttr attr(source);
    CopyTypeHeader(source, target, 0);
    for (UINT i = 0; i < attr->cVars; ++i) {
        VarDesc var(source, i);
        VARDESC copy = *var;
        ThrowIfFailed(target->AddVarDesc(i, &copy));
        std::vector<unique_bstr> names = MemberNames(source, var->memid, 1);
        if (names.empty())
            ThrowHr(TYPE_E_ELEMENTNOTFOUND);
        ThrowIfFailed(target->SetVarName(i, names[0].get()));
    }
    ThrowIfFailed(target->LayOut());
}

void TlbCopier::FillInterface(std::size_t index)
{
    ITypeInfo* source = m_sourceTypes[index].Get();
    ICreateTypeInfo2* target = m_targetTypes[index].Get();
    TypeAttr attr(source);
    if (attr->cImplTypes != 1)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);

    // The base goes first: its table size decides where this one's slots go.
    HREFTYPE baseRef = 0;
    ThrowIfFailed(source->GetRefTypeOfImplType(0, &baseRef));
    ComPtr<ITypeInfo> base;
    ThrowIfFailed(source->GetRefTypeInfo(baseRef, &base));
    const std::size_t baseIndex = PublishedIndexOf(base.Get());
    UINT baseSlots = 0;
    if (baseIndex != npos) {
        Fill(baseIndex);
        baseSlots = m_slots[baseIndex];
    } else {
        baseSlots = VtableSlots(base.Get());
    }

    Step("copying an interface");
    CopyTypeHeader(source, target, kDualFlags);
    HREFTYPE targetBase = 0;
    ThrowIfFailed(target->AddRefTypeInfo(TargetFor(base.Get()).Get(), &targetBase));
    ThrowIfFailed(target->AddImplType(0, targetBase));

    Step("copying a function");
    for (UINT i = 0; i < attr->cFuncs; ++i)
        CopyFunction(index, i, baseSlots + i);
    m_slots[index] = baseSlots + attr->cFuncs;
    Step("laying out an interface");
    ThrowIfFailed(target->LayOut());
}

void TlbCopier::CopyFunction(std::size_t index, UINT func, UINT slot)
{
    ITypeInfo* source = m_sourceTypes[index].Get();
    ICreateTypeInfo2* target = m_targetTypes[index].Get();
    FuncDesc desc(source, func);
    // The source must already have the slot that the published order
    // implies; anything else means the interface definitions changed shape.
    if (static_cast<UINT>(desc->oVft) / sizeof(void*) != slot)
        ThrowHr(TYPE_E_INCONSISTENTPROPFUNCS);

    std::deque<TYPEDESC> arena;
    FUNCDESC copy = *desc;
    copy.elemdescFunc.tdesc = CopyTypeDesc(desc->elemdescFunc.tdesc, source, target, arena);
    std::vector<ELEMDESC> params(desc->lprgelemdescParam, desc->lprgelemdescParam + desc->cParams);
    for (SHORT p = 0; p < desc->cParams; ++p)
        params[p].tdesc = CopyTypeDesc(desc->lprgelemdescParam[p].tdesc, source, target, arena);
    copy.lprgelemdescParam = params.empty() ? nullptr : params.data();
    copy.oVft = static_cast<SHORT>(slot * m_ptrSize);
    ThrowIfFailed(target->AddFuncDesc(func, &copy));

    // A property put keeps no name for its value parameter.
    const bool put = (desc->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
    const UINT wanted = put ? static_cast<UINT>(desc->cParams) : static_cast<UINT>(desc->cParams) + 1;
    std::vector<unique_bstr> names = MemberNames(source, desc->memid, static_cast<UINT>(desc->cParams) + 1);
    if (names.size() < wanted)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);
    std::vector<LPOLESTR> raw;
    for (UINT n = 0; n < wanted; ++n)
        raw.push_back(names[n].get());
    ThrowIfFailed(target->SetFuncAndParamNames(func, raw.data(), wanted));
    if (unique_bstr doc = HelpString(source, desc->memid))
        ThrowIfFailed(target->SetFuncDocString(func, doc.get()));
}

void TlbCopier::FillCoclass(std::size_t index)
{
    ITypeInfo* source = m_sourceTypes[index].Get();
    ICreateTypeInfo2* target = m_targetTypes[index].Get();
    TypeAttr attr(source);
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ThrowIfFailed(source->GetRefTypeOfImplType(i, &ref));
        ComPtr<ITypeInfo> implemented;
        ThrowIfFailed(source->GetRefTypeInfo(ref, &implemented));
        const std::size_t implIndex = PublishedIndexOf(implemented.Get());
        if (implIndex != npos)
            Fill(implIndex);
    }

    Step("copying the class");
    CopyTypeHeader(source, target, kCoclassFlags);
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ThrowIfFailed(source->GetRefTypeOfImplType(i, &ref));
        INT flags = 0;
        ThrowIfFailed(source->GetImplTypeFlags(i, &flags));
        ThrowIfFailed(target->AddImplType(i, MapRef(source, ref, target)));
        ThrowIfFailed(target->SetImplTypeFlags(i, flags));
    }
    ThrowIfFailed(target->LayOut());
}

std::size_t TlbCopier::PublishedIndexOf(ITypeInfo* info)
{
    ComPtr<ITypeLib> lib;
    UINT unused = 0;
    ThrowIfFailed(info->GetContainingTypeLib(&lib, &unused));
    if (!::IsEqualGUID(LibraryGuid(lib.Get()), m_sourceGuid))
        return npos;
    const std::size_t index = PublishedIndexOfName(TypeName(info).get());
    if (index == npos)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);
    return index;
}

ComPtr<ITypeInfo> TlbCopier::TargetFor(ITypeInfo* sourceType)
{
    const std::size_t index = PublishedIndexOf(sourceType);
    if (index == npos)
        return sourceType;
    ComPtr<ITypeInfo> created;
    ThrowIfFailed(m_targetTypes[index].As(&created));
    return created;
}

HREFTYPE TlbCopier::MapRef(ITypeInfo* owner, HREFTYPE ref, ICreateTypeInfo2* target)
{
    ComPtr<ITypeInfo> referenced;
    ThrowIfFailed(owner->GetRefTypeInfo(ref, &referenced));
    HREFTYPE mapped = 0;
    ThrowIfFailed(target->AddRefTypeInfo(TargetFor(referenced.Get()).Get(), &mapped));
    return mapped;
}

TYPEDESC TlbCopier::CopyTypeDesc(const TYPEDESC& in, ITypeInfo* owner, ICreateTypeInfo2* target,
                                 std::deque<TYPEDESC>& arena)
{
    TYPEDESC out = in;
    switch (in.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        arena.push_back(CopyTypeDesc(*in.lptdesc, owner, target, arena));
        out.lptdesc = &arena.back();
        break;
    case VT_USERDEFINED:
        out.hreftype = MapRef(owner, in.hreftype, target);
        break;
    case VT_CARRAY:
        ThrowHr(E_NOTIMPL); // fixed arrays do not occur at an automation boundary
    default:
        break;
    }
    return out;
}

void TlbCopier::Verify(const wchar_t* target)
{
    Step("loading the written library");
    ComPtr<ITypeLib> lib;
    ThrowIfFailed(::LoadTypeLibEx(target, REGKIND_NONE, &lib));
    TLIBATTR* attr = nullptr;
    ThrowIfFailed(lib->GetLibAttr(&attr));
    const SYSKIND syskind = attr->syskind;
    lib->ReleaseTLibAttr(attr);
    Step("checking the target system of the written library");
    if (syskind != m_syskind)
        ThrowHr(TYPE_E_BADMODULEKIND);

    if (lib->GetTypeInfoCount() != kTypeCount)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);
    for (UINT i = 0; i < kTypeCount; ++i) {
        Step("checking the order and the tables of the written library");
        ComPtr<ITypeInfo> info;
        ThrowIfFailed(lib->GetTypeInfo(i, &info));
        if (PublishedIndexOfName(TypeName(info.Get()).get()) != i)
            ThrowHr(TYPE_E_ELEMENTNOTFOUND);
        if (kPublishedOrder[i].kind == TKIND_ENUM && TypeAttr(info.Get())->cbSizeInstance != kEnumSize)
            ThrowHr(TYPE_E_SIZETOOBIG);
        if (kPublishedOrder[i].kind != TKIND_INTERFACE)
            continue;
        if (!IsDual(info.Get()))
            ThrowHr(TYPE_E_BADMODULEKIND);
        ComPtr<ITypeInfo> half = InterfaceHalf(info.Get());
        TypeAttr halfAttr(half.Get());
        // Offsets come back in the loading process's pointer size, the table
        // size as written, in the target system's.
        if (halfAttr->cbSizeVft != m_slots[i] * m_ptrSize)
            ThrowHr(TYPE_E_SIZETOOBIG);
        for (UINT f = 0; f < halfAttr->cFuncs; ++f) {
            FuncDesc func(half.Get(), f);
            if (static_cast<UINT>(func->oVft) != (m_slots[i] - halfAttr->cFuncs + f) * sizeof(void*))
                ThrowHr(TYPE_E_INCONSISTENTPROPFUNCS);
        }
    }
}

} // namespace vembro::tools
