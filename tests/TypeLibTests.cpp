// The published type library, row by row, in both of its forms (the 64-bit file that the tests load and the 32-bit
// one that Vembro.DLL carries), written out as text and compared with typelib.txt next to this file.
#include <fstream>
#include <sstream>

#include "support/ComChecks.h"
#include "tools/TypeInfoDesc.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::AnsiFromBstr;
using namespace vembro::tools; // FuncDesc, TypeAttr, VarDesc

namespace {

// ptrSize, of the target system, is the unit of the stored table sizes.
struct TlbFile { const char* label; const char* path; SYSKIND syskind; UINT ptrSize; };
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

// One line per member: slot, DISPID, kind, name, parameters, help; anything unusual (not a pure virtual standard call
// returning HRESULT, a name that does not find its DISPID) is spelt out.
void WriteMembers(ITypeInfo* half, ITypeInfo* dispatch, UINT count, std::string& out)
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
        out += line + "\n";
    }
}

std::string Describe(ITypeLib* lib, const TlbFile& file)
{
    std::string out;
    TLIBATTR* attr = nullptr;
    EXPECT_EQ(S_OK, lib->GetLibAttr(&attr));
    vembro::unique_bstr name, help;
    EXPECT_EQ(S_OK, lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    out += "library " + AnsiFromBstr(name.get()) + " " + Guid(attr->guid) + " " + std::to_string(attr->wMajorVerNum) + "." +
           std::to_string(attr->wMinorVerNum) + " lcid " + std::to_string(attr->lcid) + " \"" + AnsiFromBstr(help.get()) + "\"" +
           (attr->syskind == file.syskind ? "" : " WRONG SYSTEM") + "\n";
    lib->ReleaseTLibAttr(attr);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, lib->GetTypeInfo(i, &info));
        TypeAttr a(info.Get());
        std::string line = std::to_string(i) + " " + Doc(info.Get()) + " " + Guid(a->guid) + " " +
                           Kind(a->typekind) + Flags(a->wTypeFlags) + " " + Doc(info.Get(), MEMBERID_NIL, true);
        if (a->typekind == TKIND_ENUM) {
            out += line + " size " + std::to_string(a->cbSizeInstance) + "\n";
            for (UINT v = 0; v < a->cVars; ++v) {
                VarDesc var(info.Get(), v);
                out += "  " + Doc(info.Get(), var->memid) + " = " +
                       (var->varkind == VAR_CONST && V_VT(var->lpvarValue) == VT_I4 ? std::to_string(V_I4(var->lpvarValue)) : "?") + "\n";
            }
        } else if (a->typekind == TKIND_COCLASS) {
            out += line + "\n";
            for (UINT c = 0; c < a->cImplTypes; ++c) {
                INT flags = -1;
                EXPECT_EQ(S_OK, info->GetImplTypeFlags(c, &flags));
                out += "  implements " + Doc(Implemented(info.Get(), c).Get()) + " flags " + std::to_string(flags) + "\n";
            }
        } else {
            ComPtr<ITypeInfo> half = Implemented(info.Get(), static_cast<UINT>(-1));
            TypeAttr h(half.Get());
            ComPtr<ITypeInfo> base = Implemented(half.Get());
            out += line + " slots " + std::to_string(a->cFuncs) + " " + Kind(h->typekind) + Flags(h->wTypeFlags) + " table " +
                   std::to_string(h->cbSizeVft / file.ptrSize) + " bases " + std::to_string(h->cImplTypes) + " " + Doc(base.Get()) +
                   Origin(base.Get()) + (::IsEqualGUID(h->guid, a->guid) ? "" : " OTHER GUID") + "\n";
            WriteMembers(half.Get(), info.Get(), h->cFuncs, out);
        }
    }
    return out;
}

class TypeLibFile : public comtest::ComTest, public ::testing::WithParamInterface<TlbFile> {};

TEST_P(TypeLibFile, EveryRowIsAsPublished)
{
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(vembro::WideFromAnsi(GetParam().path).c_str(), REGKIND_NONE, &lib));
    const std::string dir = __FILE__;
    std::ostringstream published;
    published << std::ifstream(dir.substr(0, dir.find_last_of("/\\") + 1) + "typelib.txt").rdbuf();
    EXPECT_EQ(published.str(), Describe(lib.Get(), GetParam()));
}

INSTANTIATE_TEST_SUITE_P(BothFiles, TypeLibFile, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<TlbFile>& info) { return std::string(info.param.label); });

} // namespace
