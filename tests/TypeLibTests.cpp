// The published type library, row by row, in both of its forms (the 64-bit
// file that the tests load and the 32-bit one that Vembro.DLL carries),
// written out as text and compared with typelib.txt next to this file.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/TypeInfoDesc.h"
#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::AnsiFromBstr;
using vembro::tools::FuncDesc;
using vembro::tools::TypeAttr;
using vembro::tools::VarDesc;

namespace {

struct TlbFile {
    const char* label;
    const char* path;
    SYSKIND syskind;
    UINT ptrSize; // of the target system: the unit of the stored table sizes
};
void PrintTo(const TlbFile& file, std::ostream* os) { *os << file.label; }
const TlbFile kFiles[] = {{"Win64", VEMBRO_TLB_PATH, SYS_WIN64, 8}, {"Win32", VEMBRO_TLB32_PATH, SYS_WIN32, 4}};

std::string Doc(ITypeInfo* info, MEMBERID memid = MEMBERID_NIL, bool help = false)
{
    vembro::unique_bstr text;
    EXPECT_EQ(S_OK, info->GetDocumentation(memid, help ? nullptr : text.put(), help ? text.put() : nullptr, nullptr, nullptr));
    return help ? "\"" + AnsiFromBstr(text.get()) + "\"" : AnsiFromBstr(text.get());
}

std::string Guid(const GUID& guid) { return vembro::AnsiFromWide(vembro::GuidString(guid).c_str()); }

std::string Kind(TYPEKIND kind) { return kind == TKIND_ENUM ? "enum" : kind == TKIND_INTERFACE ? "interface" : kind == TKIND_DISPATCH ? "dispatch" : kind == TKIND_COCLASS ? "coclass" : std::to_string(kind); }

std::string Flags(WORD flags)
{
    static const std::pair<WORD, const char*> names[] = {{TYPEFLAG_FCANCREATE, "cancreate"}, {TYPEFLAG_FHIDDEN, "hidden"},
        {TYPEFLAG_FDUAL, "dual"}, {TYPEFLAG_FOLEAUTOMATION, "oleautomation"}, {TYPEFLAG_FDISPATCHABLE, "dispatchable"},
        {TYPEFLAG_FRESTRICTED, "restricted"}, {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"}};
    std::string text = "[";
    for (const auto& [flag, name] : names)
        if (flags & flag)
            text += std::string(text.size() > 1 ? "," : "") + name;
    return text + "]";
}

// A type written as in the interface definitions.
std::string TypeText(ITypeInfo* owner, const TYPEDESC& t)
{
    static const std::pair<VARTYPE, const char*> names[] = {{VT_I2, "short"}, {VT_I4, "long"}, {VT_BSTR, "BSTR"},
        {VT_VARIANT, "VARIANT"}, {VT_BOOL, "VARIANT_BOOL"}, {VT_DISPATCH, "IDispatch*"}, {VT_UNKNOWN, "IUnknown*"},
        {VT_HRESULT, "HRESULT"}};
    ComPtr<ITypeInfo> ref;
    if (t.vt == VT_PTR)
        return TypeText(owner, *t.lptdesc) + "*";
    if (t.vt == VT_USERDEFINED)
        return SUCCEEDED(owner->GetRefTypeInfo(t.hreftype, &ref)) ? Doc(ref.Get()) : "<unresolved>";
    for (const auto& [vt, name] : names)
        if (vt == t.vt)
            return name;
    return "vt" + std::to_string(t.vt);
}

// The implemented type at index; -1 on a dual interface's dispatch half gives its interface half.
ComPtr<ITypeInfo> Implemented(ITypeInfo* info, UINT index = 0)
{
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(index, &ref));
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, &base));
    return base;
}

// Where a type comes from, when that is not this library: IDispatch is imported from stdole2.
std::string Origin(ITypeInfo* info)
{
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    TLIBATTR* attr = nullptr;
    if (FAILED(info->GetContainingTypeLib(&lib, &index)) || FAILED(lib->GetLibAttr(&attr)))
        return "?";
    const std::string origin = ::IsEqualGUID(LIBID_VEMBROLib, attr->guid) ? "" : " from " + Guid(attr->guid) + " " + std::to_string(attr->wMajorVerNum);
    lib->ReleaseTLibAttr(attr);
    return origin;
}

// One line per member: slot, DISPID, kind, name, parameters, help; anything
// unusual (not a pure virtual standard call returning HRESULT, a name that
// does not find its DISPID) is spelt out.
void WriteMembers(ITypeInfo* half, ITypeInfo* dispatch, UINT count, std::vector<std::string>& out)
{
    static const char* const kinds[] = {"", "method", "get", "", "put"};
    for (UINT i = 0; i < count; ++i) {
        FuncDesc f(half, i);
        BSTR names[8] = {};
        UINT named = 0;
        EXPECT_EQ(S_OK, half->GetNames(f->memid, names, 8, &named));
        std::vector<vembro::unique_bstr> held(names, names + named);
        std::string line = "  " + std::to_string(f->oVft / sizeof(void*)) + " " + std::to_string(f->memid) + " " +
                           kinds[f->invkind & 7] + " " + AnsiFromBstr(names[0]) + "(";
        for (SHORT p = 0; p < f->cParams; ++p) {
            const USHORT flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
            line += std::string(p ? ", " : "") + (flags & PARAMFLAG_FIN ? "in " : "") + (flags & PARAMFLAG_FOUT ? "out " : "") +
                    (flags & PARAMFLAG_FRETVAL ? "retval " : "") + (flags & PARAMFLAG_FOPT ? "optional " : "") +
                    TypeText(half, f->lprgelemdescParam[p].tdesc) +
                    // names are looked up by DISPID, which a get and a put share: a put's value has none
                    (f->invkind != INVOKE_PROPERTYPUT || p + 1 < f->cParams ? " " + AnsiFromBstr(p + 1u < named ? names[p + 1] : nullptr) : "");
        }
        line += ") " + Doc(half, f->memid, true);
        LPOLESTR lookup = names[0];
        MEMBERID found = DISPID_UNKNOWN;
        if (f->funckind != FUNC_PUREVIRTUAL || f->callconv != CC_STDCALL || TypeText(half, f->elemdescFunc.tdesc) != "HRESULT" ||
            FAILED(dispatch->GetIDsOfNames(&lookup, 1, &found)) || found != f->memid)
            line += " UNUSUAL";
        out.push_back(line);
    }
}

std::vector<std::string> Describe(ITypeLib* lib, const TlbFile& file)
{
    std::vector<std::string> out;
    TLIBATTR* attr = nullptr;
    EXPECT_EQ(S_OK, lib->GetLibAttr(&attr));
    vembro::unique_bstr name, help;
    EXPECT_EQ(S_OK, lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    out.push_back("library " + AnsiFromBstr(name.get()) + " " + Guid(attr->guid) + " " + std::to_string(attr->wMajorVerNum) +
                  "." + std::to_string(attr->wMinorVerNum) + " lcid " + std::to_string(attr->lcid) + " \"" +
                  AnsiFromBstr(help.get()) + "\"" + (attr->syskind == file.syskind ? "" : " WRONG SYSTEM"));
    lib->ReleaseTLibAttr(attr);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, lib->GetTypeInfo(i, &info));
        TypeAttr a(info.Get());
        std::string line = std::to_string(i) + " " + Doc(info.Get()) + " " + Guid(a->guid) + " " +
                           Kind(a->typekind) + Flags(a->wTypeFlags) + " " +
                           Doc(info.Get(), MEMBERID_NIL, true);
        if (a->typekind == TKIND_ENUM) {
            out.push_back(line + " size " + std::to_string(a->cbSizeInstance));
            for (UINT v = 0; v < a->cVars; ++v) {
                VarDesc var(info.Get(), v);
                out.push_back("  " + Doc(info.Get(), var->memid) + " = " + (var->varkind == VAR_CONST && V_VT(var->lpvarValue) == VT_I4 ? std::to_string(V_I4(var->lpvarValue)) : "?"));
            }
        } else if (a->typekind == TKIND_COCLASS) {
            out.push_back(line);
            for (UINT c = 0; c < a->cImplTypes; ++c) {
                INT flags = -1;
                EXPECT_EQ(S_OK, info->GetImplTypeFlags(c, &flags));
                out.push_back("  implements " + Doc(Implemented(info.Get(), c).Get()) + " flags " + std::to_string(flags));
            }
        } else {
            ComPtr<ITypeInfo> half = Implemented(info.Get(), static_cast<UINT>(-1));
            TypeAttr h(half.Get());
            ComPtr<ITypeInfo> base = Implemented(half.Get());
            out.push_back(line + " slots " + std::to_string(a->cFuncs) + " " + Kind(h->typekind) + Flags(h->wTypeFlags) + " table " +
                          std::to_string(h->cbSizeVft / file.ptrSize) + " bases " + std::to_string(h->cImplTypes) + " " +
                          Doc(base.Get()) + Origin(base.Get()) + (::IsEqualGUID(h->guid, a->guid) ? "" : " OTHER GUID"));
            WriteMembers(half.Get(), info.Get(), h->cFuncs, out);
        }
    }
    return out;
}

class TypeLibFile : public ::testing::TestWithParam<TlbFile> {};

TEST_P(TypeLibFile, EveryRowIsAsPublished)
{
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        ComPtr<ITypeLib> lib;
        ASSERT_EQ(S_OK, ::LoadTypeLibEx(vembro::WideFromAnsi(GetParam().path).c_str(), REGKIND_NONE, &lib));
        std::string dir = __FILE__;
        std::ifstream published(dir.substr(0, dir.find_last_of("/\\") + 1) + "typelib.txt");
        std::vector<std::string> expected;
        for (std::string line; std::getline(published, line);)
            expected.push_back(line);
        const std::vector<std::string> actual = Describe(lib.Get(), GetParam());
        ASSERT_EQ(expected.size(), actual.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(expected[i], actual[i]) << "line " << i + 1;
    }
    ::CoUninitialize();
    // The flags word as stored in the file header, where the loader's own additions do not show.
    unsigned char header[0x24] = {};
    std::FILE* f = std::fopen(GetParam().path, "rb");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(sizeof header, std::fread(header, 1, sizeof header, f));
    std::fclose(f);
    EXPECT_EQ(0, std::memcmp(header, "MSFT", 4));
    EXPECT_EQ(static_cast<unsigned>(GetParam().syskind), header[0x14] & 0xFu);
    EXPECT_EQ(0u, header[0x1C] | header[0x1D] | header[0x1E] | header[0x1F]);
}

INSTANTIATE_TEST_SUITE_P(BothFiles, TypeLibFile, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<TlbFile>& info) { return std::string(info.param.label); });

} // namespace
