// The published type library, row by row, in both of its forms: the 64-bit
// file that the tests load and the 32-bit file that Vembro.DLL carries.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "vembro/com/Resource.h"
#include "tools/TypeInfoDesc.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::unique_bstr;
using vembro::tools::FuncDesc;
using vembro::tools::TypeAttr;
using vembro::tools::VarDesc;

namespace {

struct TlbFile {
    const char* label;
    const wchar_t* path;
    const char* narrowPath;
    SYSKIND syskind;
    UINT ptrSize; // of the target system: the unit of the stored table sizes
};

void PrintTo(const TlbFile& file, std::ostream* os) { *os << file.label; }

const TlbFile kFiles[] = {
    { "Win64", L"" VEMBRO_TLB_PATH, VEMBRO_TLB_PATH, SYS_WIN64, 8 },
    { "Win32", L"" VEMBRO_TLB32_PATH, VEMBRO_TLB32_PATH, SYS_WIN32, 4 },
};

// --- The expected library, as data -------------------------------------

enum class Kind { Enum, Dual, Class };
struct EntryRow {
    const wchar_t* name;
    Kind kind;
};
const EntryRow kEntries[] = {
    { L"tagFILETRANSLATORSTATE", Kind::Enum },
    { L"ITolviFileTranslatorEvents", Kind::Dual },
    { L"ITolviFileConverterEvents", Kind::Dual },
    { L"ITolviFileTranslator2", Kind::Dual },
    { L"ITolviFileTranslator", Kind::Dual },
    { L"ITolviFileFormat", Kind::Dual },
    { L"tagFILEDATATYPE", Kind::Enum },
    { L"ITolviFileTranslator3", Kind::Dual },
    { L"ITolviFileConverter2", Kind::Dual },
    { L"ITolviFileConverter", Kind::Dual },
    { L"ITolviFileConverter3", Kind::Dual },
    { L"TolviFTManager", Kind::Class },
    { L"ITolviFTManager", Kind::Dual },
    { L"ITolviFileFormats", Kind::Dual },
};

constexpr USHORT In = PARAMFLAG_FIN;
constexpr USHORT OutRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT InOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
constexpr INVOKEKIND Get = INVOKE_PROPERTYGET;
constexpr INVOKEKIND Put = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND Method = INVOKE_FUNC;

struct ParamRow {
    const wchar_t* type;
    const wchar_t* name; // null: the library keeps no name (value of a put)
    USHORT flags;
};
struct FuncRow {
    UINT slot;
    DISPID id;
    INVOKEKIND kind;
    const wchar_t* name;
    std::vector<ParamRow> params;
    const wchar_t* help; // null: none
};
struct InterfaceRow {
    const wchar_t* name;
    const IID& iid;
    const wchar_t* base;
    const wchar_t* help;
    UINT slots;
    std::vector<FuncRow> funcs;
};

const ParamRow kFormatsOut{ L"ITolviFileFormats**", L"pVal", OutRetval };
const ParamRow kFormatOut{ L"ITolviFileFormat**", L"pVal", OutRetval };
const ParamRow kSourceFormatIn{ L"VARIANT", L"SourceFormat", In };
const ParamRow kTargetFormatIn{ L"VARIANT", L"TargetFormat", In };
const ParamRow kDirection{ L"IDispatch*", L"Direction", In };
const ParamRow kPropIn{ L"VARIANT", L"Prop", In };
const ParamRow kPutValue{ L"VARIANT", nullptr, In };
const ParamRow kVariantOut{ L"VARIANT*", L"pVal", OutRetval };
const ParamRow kLongOut{ L"long*", L"pVal", OutRetval };
const ParamRow kInfo{ L"VARIANT", L"Info", InOptional };
const ParamRow kReserved{ L"VARIANT", L"Reserved", InOptional };
const ParamRow kVarData{ L"VARIANT", L"varData", In };
const ParamRow kDataType{ L"tagFILEDATATYPE", L"type", In };
const ParamRow kStreamSource{ L"IUnknown*", L"Source", In };
const ParamRow kStreamTarget{ L"IUnknown*", L"Target", In };
const ParamRow kBstrOut{ L"BSTR*", L"pVal", OutRetval };

const std::vector<InterfaceRow>& Interfaces()
{
    static const std::vector<InterfaceRow> rows = {
        { L"ITolviFTManager", IID_ITolviFTManager, L"IDispatch", L"ITolviFFManager Interface", 15, {
            { 7, 1, Get, L"ConvertSourceFormats", { kFormatsOut }, L"property ConvertSourceFormats" },
            { 8, 2, Get, L"TranslateSourceFormats", { kFormatsOut }, L"property TranslateSourceFormats" },
            { 9, 3, Get, L"ConvertTargetFormats", { kSourceFormatIn, kFormatsOut }, L"property ConvertTargetFormats" },
            { 10, 4, Get, L"TranslateTargetFormats", { kSourceFormatIn, kFormatsOut }, L"property TranslateTargetFormats" },
            { 11, 5, Get, L"Converter", { kSourceFormatIn, kTargetFormatIn, { L"ITolviFileConverter**", L"pVal", OutRetval } }, L"property Converter" },
            { 12, 6, Get, L"Translator", { kSourceFormatIn, kTargetFormatIn, { L"ITolviFileTranslator**", L"pVal", OutRetval } }, L"property Translator" },
            { 13, 7, Get, L"ConvertAvailableFormats", { kVarData, kDataType, kFormatsOut }, L"property ConvertAvailableFormats" },
            { 14, 8, Get, L"TranslateAvailableFormats", { kVarData, kDataType, kFormatsOut }, L"property TranslateAvailableFormats" },
        } },
        { L"ITolviFileFormats", IID_ITolviFileFormats, L"IDispatch", L"ITolviFileFormats Interface", 12, {
            { 7, 0x60020000, Get, L"Count", { { L"short*", L"pVal", OutRetval } }, nullptr },
            { 8, 0x60020001, Get, L"FileFormat", { { L"short", L"Index", In }, kFormatOut }, nullptr },
            { 9, 0x60020002, Get, L"FileFormatFromID", { { L"short", L"ID", In }, kFormatOut }, nullptr },
            { 10, 0x60020003, Get, L"FileFormatFromName", { { L"BSTR", L"Name", In }, kFormatOut }, nullptr },
            { 11, 0x60020004, Get, L"FileFormatFromExt", { { L"BSTR", L"Ext", In }, kFormatsOut }, nullptr },
        } },
        { L"ITolviFileFormat", IID_ITolviFileFormat, L"IDispatch", L"ITolviFileFormat Interface", 12, {
            { 7, 0x60020000, Get, L"Name", { kBstrOut }, nullptr },
            { 8, 0x60020001, Get, L"DefaultExtention", { kBstrOut }, nullptr },
            { 9, 0x60020002, Get, L"Extentions", { kBstrOut }, nullptr },
            { 10, 0x60020003, Get, L"ID", { { L"short*", L"pVal", OutRetval } }, nullptr },
            { 11, 0x60020004, Get, L"IsComplex", { { L"VARIANT_BOOL*", L"pVal", OutRetval } }, nullptr },
        } },
        { L"ITolviFileTranslator", IID_ITolviFileTranslator, L"IDispatch", L"ITolviFileTranslator Interface", 20, {
            { 7, 1, Get, L"SourceFormat", { kFormatOut }, L"property SourceFormat" },
            { 8, 2, Get, L"TargetFormat", { kFormatOut }, L"property TargetFormat" },
            { 9, 3, Get, L"Property", { kPropIn, kVariantOut }, L"property Property" },
            { 10, 3, Put, L"Property", { kPropIn, kPutValue }, L"property Property" },
            { 11, 4, Get, L"State", { kLongOut }, L"property State" },
            { 12, 5, Method, L"TranslateText", { kDirection, { L"BSTR", L"Text", In }, { L"BSTR*", L"Result", OutRetval } }, L"method TranslateText" },
            { 13, 6, Method, L"TranslateFile", { kDirection, { L"BSTR", L"Source", In }, { L"BSTR", L"Target", In }, kInfo }, L"method TranslateFile" },
            { 14, 7, Method, L"TranslateStream", { kDirection, kStreamSource, kStreamTarget, kInfo }, L"method TranslateStream" },
            { 15, 8, Method, L"Stop", { kInfo }, L"method Stop" },
            { 16, 9, Method, L"Suspend", {}, L"method Suspend" },
            { 17, 10, Method, L"Resume", {}, L"method Resume" },
            { 18, 11, Get, L"Error", { kLongOut }, L"property Error" },
            { 19, 12, Method, L"IsFormatAvailable", { kVarData, kDataType }, L"method IsFormatAvailable" },
        } },
        { L"ITolviFileTranslator2", IID_ITolviFileTranslator2, L"ITolviFileTranslator", L"ITolviFileTranslator2 Interface", 22, {
            { 20, 20, Method, L"SyncTranslateFile", { kDirection, { L"BSTR", L"Source", In }, { L"BSTR", L"Target", In }, kReserved }, L"method SyncTranslateFile" },
            { 21, 21, Method, L"SyncTranslateStream", { kDirection, kStreamSource, kStreamTarget, kReserved }, L"method SyncTranslateStream" },
        } },
        { L"ITolviFileTranslator3", IID_ITolviFileTranslator3, L"ITolviFileTranslator2", L"ITolviFileTranslator3 Interface", 23, {
            { 22, 30, Method, L"SyncTranslateParagraph", { kDirection, kStreamSource, kStreamTarget, { L"IDispatch*", L"RangesIn", In }, { L"IDispatch*", L"RangesOut", In } }, L"method SyncTranslateParagraph" },
        } },
        { L"ITolviFileConverter", IID_ITolviFileConverter, L"IDispatch", L"ITolviFileConverter Interface", 19, {
            { 7, 1, Get, L"SourceFormat", { kFormatOut }, L"property SourceFormat" },
            { 8, 2, Get, L"TargetFormat", { kFormatOut }, L"property TargetFormat" },
            { 9, 3, Method, L"IsFormatAvailableStream", { { L"IUnknown*", L"Stream", In } }, L"method IsFormatAvailableStream" },
            { 10, 4, Method, L"IsFormatAvailableFile", { { L"BSTR", L"File", In } }, L"method IsFormatAvailableFile" },
            { 11, 5, Method, L"ConvertFile", { { L"BSTR", L"InFile", In }, { L"BSTR", L"OutFile", In }, kInfo }, L"method ConvertFile" },
            { 12, 6, Get, L"State", { kLongOut }, L"property State" },
            { 13, 7, Method, L"Stop", { kInfo }, L"method Stop" },
            { 14, 8, Method, L"Suspend", {}, L"method Suspend" },
            { 15, 9, Method, L"Resume", {}, L"method Resume" },
            { 16, 10, Method, L"ConvertStream", { kStreamSource, kStreamTarget, kInfo }, L"method ConvertStream" },
            { 17, 11, Method, L"ConvertMemory", { { L"BSTR", L"TextIn", In }, { L"BSTR*", L"TextOut", OutRetval } }, L"method ConvertMemory" },
            { 18, 12, Method, L"IsFormatAvailableMemory", { { L"BSTR", L"Text", In } }, L"method IsFormatAvailableMemory" },
        } },
        { L"ITolviFileConverter2", IID_ITolviFileConverter2, L"ITolviFileConverter", L"ITolviFileConverter2 Interface", 21, {
            { 19, 17, Get, L"Property", { kPropIn, kVariantOut }, L"property Property" },
            { 20, 17, Put, L"Property", { kPropIn, kPutValue }, L"property Property" },
        } },
        // Its help string repeats its base's.
        { L"ITolviFileConverter3", IID_ITolviFileConverter3, L"ITolviFileConverter2", L"ITolviFileConverter2 Interface", 23, {
            { 21, 18, Method, L"SyncConvertFile", { { L"BSTR", L"InFile", In }, { L"BSTR", L"OutFile", In }, kReserved }, L"method SyncConvertFile" },
            { 22, 19, Method, L"SyncConvertStream", { kStreamSource, kStreamTarget, kReserved }, L"method SyncConvertStream" },
        } },
        { L"ITolviFileTranslatorEvents", IID_ITolviFileTranslatorEvents, L"IDispatch", L"ITolviFileTranslatorEvents Interface", 10, {
            { 7, 1, Method, L"PropertyChange", { { L"VARIANT", L"Prop", In }, { L"VARIANT", L"newVal", In } }, nullptr },
            { 8, 2, Method, L"StateChange", { { L"long", L"State", In } }, nullptr },
            { 9, 3, Method, L"ProgressChange", { { L"long", L"Progress", In }, { L"long", L"MaxProgress", In } }, nullptr },
        } },
        { L"ITolviFileConverterEvents", IID_ITolviFileConverterEvents, L"IDispatch", L"ITolviFileConverterEvents Interface", 9, {
            { 7, 1, Method, L"ProgressChange", { { L"long", L"Progress", In }, { L"long", L"MaxProgress", In } }, L"event ProgressChange" },
            { 8, 2, Method, L"StateChange", { { L"long", L"State", In } }, L"event StateChange" },
        } },
    };
    return rows;
}

struct EnumRow {
    const wchar_t* name;
    std::vector<std::pair<const wchar_t*, LONG>> members;
};
const std::vector<EnumRow>& Enums()
{
    static const std::vector<EnumRow> rows = {
        { L"tagFILETRANSLATORSTATE", {
            { L"FTSTATE_READY", 0 }, { L"FTSTATE_CONVERT", 1 }, { L"FTSTATE_TRANSLATE", 2 },
            { L"FTSTATE_SUSPEND", 3 }, { L"FTSTATE_STOPPED", 4 }, { L"FTSTATE_TRANSLATE_COMPLETE", 5 },
            { L"FTSTATE_ERROR", 6 } } },
        { L"tagFILEDATATYPE", {
            { L"FILEDATATYPE_FILENAME", 0 }, { L"FILEDATATYPE_STREAM", 1 }, { L"FILEDATATYPE_TEXT", 2 } } },
    };
    return rows;
}

// --- Reading the library -------------------------------------------------

std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }
std::wstring Text(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

std::wstring NameOf(ITypeInfo* info)
{
    unique_bstr name;
    EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    return Text(name.get());
}

std::wstring HelpOf(ITypeInfo* info, MEMBERID memid)
{
    unique_bstr help;
    EXPECT_EQ(S_OK, info->GetDocumentation(memid, nullptr, help.put(), nullptr, nullptr));
    return Text(help.get());
}

// A parameter or return type written as in the interface definitions.
std::wstring TypeText(ITypeInfo* owner, const TYPEDESC& t)
{
    switch (t.vt) {
    case VT_PTR: return TypeText(owner, *t.lptdesc) + L"*";
    case VT_I2: return L"short";
    case VT_I4: return L"long";
    case VT_BSTR: return L"BSTR";
    case VT_VARIANT: return L"VARIANT";
    case VT_BOOL: return L"VARIANT_BOOL";
    case VT_DISPATCH: return L"IDispatch*";
    case VT_UNKNOWN: return L"IUnknown*";
    case VT_HRESULT: return L"HRESULT";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> ref;
        if (FAILED(owner->GetRefTypeInfo(t.hreftype, &ref)))
            return L"<unresolved>";
        return NameOf(ref.Get());
    }
    default: return L"vt" + std::to_wstring(t.vt);
    }
}

ComPtr<ITypeInfo> BaseOf(ITypeInfo* info, UINT implIndex = 0)
{
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(implIndex, &ref));
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, &base));
    return base;
}

// IDispatch is imported from stdole2 (OLE Automation 2.0), not redeclared.
bool ComesFromStdole2(ITypeInfo* info)
{
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    if (FAILED(info->GetContainingTypeLib(&lib, &index)))
        return false;
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr)))
        return false;
    const bool stdole2 = ::IsEqualGUID(IID_StdOle, attr->guid) && attr->wMajorVerNum == 2;
    lib->ReleaseTLibAttr(attr);
    return stdole2;
}

ComPtr<ITypeInfo> InterfaceHalf(ITypeInfo* dispatchHalf)
{
    return BaseOf(dispatchHalf, static_cast<UINT>(-1));
}

class TypeLibFile : public ::testing::TestWithParam<TlbFile> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_EQ(S_OK, ::LoadTypeLibEx(GetParam().path, REGKIND_NONE, &m_lib));
    }
    void TearDown() override
    {
        m_lib.Reset();
        ::CoUninitialize();
    }

    ComPtr<ITypeInfo> TypeNamed(const wchar_t* name)
    {
        for (UINT i = 0; i < m_lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            EXPECT_EQ(S_OK, m_lib->GetTypeInfo(i, &info));
            if (NameOf(info.Get()) == name)
                return info;
        }
        ADD_FAILURE() << "no type named " << ::testing::PrintToString(std::wstring(name));
        return nullptr;
    }

    void CheckFunction(ITypeInfo* half, ITypeInfo* dispatch, UINT index, const FuncRow& row);

    ComPtr<ITypeLib> m_lib;
};

TEST_P(TypeLibFile, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, m_lib->GetLibAttr(&attr));
    EXPECT_TRUE(::IsEqualGUID(LIBID_VEMBROLib, attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0x0409u, attr->lcid);
    EXPECT_EQ(GetParam().syskind, attr->syskind);
    // The loader may add FHASDISKIMAGE; the library itself claims nothing.
    EXPECT_EQ(0, attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN));
    m_lib->ReleaseTLibAttr(attr);

    unique_bstr name;
    unique_bstr help;
    ASSERT_EQ(S_OK, m_lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    EXPECT_EQ(L"VEMBROLib", Text(name.get()));
    EXPECT_EQ(L"Vembro 1.0 Type Library", Text(help.get()));
}

// The flags word as stored in the file header, where the loader's own
// additions do not show.
TEST_P(TypeLibFile, StoredLibraryFlagsAreNone)
{
    std::FILE* f = std::fopen(GetParam().narrowPath, "rb");
    ASSERT_NE(nullptr, f);
    unsigned char header[0x24] = {};
    const size_t got = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    ASSERT_EQ(sizeof header, got);
    EXPECT_EQ(0, std::memcmp(header, "MSFT", 4));
    EXPECT_EQ(static_cast<unsigned>(GetParam().syskind), header[0x14] & 0xFu);
    EXPECT_EQ(0u, header[0x1C] | header[0x1D] | header[0x1E] | header[0x1F]);
}

TEST_P(TypeLibFile, EntriesInIndexOrder)
{
    ASSERT_EQ(std::size(kEntries), m_lib->GetTypeInfoCount());
    for (UINT i = 0; i < std::size(kEntries); ++i) {
        SCOPED_TRACE(i);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, m_lib->GetTypeInfo(i, &info));
        EXPECT_EQ(kEntries[i].name, NameOf(info.Get()));
        TYPEKIND kind{};
        ASSERT_EQ(S_OK, m_lib->GetTypeInfoType(i, &kind));
        switch (kEntries[i].kind) {
        case Kind::Enum:
            EXPECT_EQ(TKIND_ENUM, kind);
            break;
        case Kind::Class:
            EXPECT_EQ(TKIND_COCLASS, kind);
            break;
        case Kind::Dual:
            // A dual interface shows its dispatch half in the index.
            EXPECT_EQ(TKIND_DISPATCH, kind);
            EXPECT_TRUE(TypeAttr(info.Get())->wTypeFlags & TYPEFLAG_FDUAL);
            break;
        }
    }
}

void TypeLibFile::CheckFunction(ITypeInfo* half, ITypeInfo* dispatch, UINT index, const FuncRow& row)
{
    FuncDesc func(half, index);
    EXPECT_EQ(row.id, func->memid);
    EXPECT_EQ(row.kind, func->invkind);
    EXPECT_EQ(FUNC_PUREVIRTUAL, func->funckind);
    EXPECT_EQ(CC_STDCALL, func->callconv);
    // Offsets come back in the pointer size of the loading process.
    EXPECT_EQ(row.slot * sizeof(void*), static_cast<size_t>(func->oVft));
    EXPECT_EQ(L"HRESULT", TypeText(half, func->elemdescFunc.tdesc));
    ASSERT_EQ(row.params.size(), static_cast<size_t>(func->cParams));
    for (size_t p = 0; p < row.params.size(); ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(row.params[p].type, TypeText(half, func->lprgelemdescParam[p].tdesc));
        EXPECT_EQ(row.params[p].flags, func->lprgelemdescParam[p].paramdesc.wParamFlags);
    }

    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(S_OK, half->GetNames(row.id, names, 8, &count));
    std::vector<unique_bstr> held;
    for (UINT n = 0; n < count; ++n)
        held.emplace_back(names[n]);
    // Names are looked up by DISPID, which a get and a put share; the value
    // of a put has no name of its own to compare.
    ASSERT_GE(count, 1u);
    EXPECT_EQ(row.name, Text(names[0]));
    for (size_t p = 0; p < row.params.size(); ++p) {
        if (!row.params[p].name)
            continue;
        ASSERT_LT(p + 1, count);
        EXPECT_EQ(row.params[p].name, Text(names[p + 1]));
    }
    EXPECT_EQ(Text(row.help), HelpOf(half, row.id));

    // Dispatch clients find the member by name under the same DISPID.
    LPOLESTR lookup = const_cast<LPOLESTR>(row.name);
    MEMBERID found = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(&lookup, 1, &found));
    EXPECT_EQ(row.id, found);
}

TEST_P(TypeLibFile, InterfacesMatchTheirTables)
{
    for (const InterfaceRow& row : Interfaces()) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(row.name)));
        ComPtr<ITypeInfo> dispatch;
        ASSERT_EQ(S_OK, m_lib->GetTypeInfoOfGuid(row.iid, &dispatch));
        EXPECT_EQ(row.name, NameOf(dispatch.Get()));
        EXPECT_EQ(row.help, HelpOf(dispatch.Get(), MEMBERID_NIL));

        constexpr WORD kNever = TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FNONEXTENSIBLE;
        constexpr WORD kDual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
        {
            TypeAttr attr(dispatch.Get());
            EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
            EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
            EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
            EXPECT_EQ(0, attr->wTypeFlags & kNever);
            // The dispatch half lists every slot, IUnknown and IDispatch included.
            EXPECT_EQ(row.slots, attr->cFuncs);
        }

        ComPtr<ITypeInfo> half = InterfaceHalf(dispatch.Get());
        ASSERT_TRUE(half);
        TypeAttr attr(half.Get());
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_TRUE(::IsEqualGUID(row.iid, attr->guid));
        EXPECT_EQ(kDual, attr->wTypeFlags & kDual);
        EXPECT_EQ(0, attr->wTypeFlags & kNever);
        ASSERT_EQ(1, attr->cImplTypes);
        ComPtr<ITypeInfo> base = BaseOf(half.Get());
        ASSERT_TRUE(base);
        EXPECT_EQ(row.base, NameOf(base.Get()));
        if (std::wstring(row.base) == L"IDispatch") {
            EXPECT_TRUE(ComesFromStdole2(base.Get()));
        }
        // The table size is stored in the target system's pointer size.
        EXPECT_EQ(row.slots * GetParam().ptrSize, attr->cbSizeVft);
        EXPECT_EQ(row.funcs.front().slot + row.funcs.size(), row.slots);

        ASSERT_EQ(row.funcs.size(), attr->cFuncs);
        for (UINT i = 0; i < row.funcs.size(); ++i) {
            SCOPED_TRACE(::testing::PrintToString(std::wstring(row.funcs[i].name)));
            CheckFunction(half.Get(), dispatch.Get(), i, row.funcs[i]);
        }
    }
}

TEST_P(TypeLibFile, EnumerationsMatchTheirTables)
{
    for (const EnumRow& row : Enums()) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(row.name)));
        ComPtr<ITypeInfo> info = TypeNamed(row.name);
        ASSERT_TRUE(info);
        TypeAttr attr(info.Get());
        EXPECT_EQ(TKIND_ENUM, attr->typekind);
        EXPECT_EQ(4u, attr->cbSizeInstance); // 32-bit
        ASSERT_EQ(row.members.size(), attr->cVars);
        for (UINT i = 0; i < row.members.size(); ++i) {
            VarDesc var(info.Get(), i);
            EXPECT_EQ(VAR_CONST, var->varkind);
            unique_bstr name;
            UINT count = 0;
            ASSERT_EQ(S_OK, info->GetNames(var->memid, name.put(), 1, &count));
            EXPECT_EQ(row.members[i].first, Text(name.get()));
            ASSERT_EQ(VT_I4, V_VT(var->lpvarValue));
            EXPECT_EQ(row.members[i].second, V_I4(var->lpvarValue));
        }
    }
}

TEST_P(TypeLibFile, CreatableClass)
{
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, m_lib->GetTypeInfoOfGuid(CLSID_TolviFTManager, &info));
    EXPECT_EQ(L"TolviFTManager", NameOf(info.Get()));
    EXPECT_EQ(L"TolviFFManager Class", HelpOf(info.Get(), MEMBERID_NIL));
    TypeAttr attr(info.Get());
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attr->wTypeFlags);
    // One interface, the default one, and no event source.
    ASSERT_EQ(1, attr->cImplTypes);
    EXPECT_EQ(L"ITolviFTManager", NameOf(BaseOf(info.Get()).Get()));
    INT flags = -1;
    ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
}

INSTANTIATE_TEST_SUITE_P(BothFiles, TypeLibFile, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<TlbFile>& info) { return std::string(info.param.label); });

} // namespace
