// Hostile input through the COM surface: every VARTYPE (plain, by
// reference, nested by-reference VARIANTs, arrays, null strings, empty
// values, extreme numbers, invalid types) to every VARIANT argument of the
// manager and the chain translator, and a malformed catalogue of more than
// 10,000 entries. Each call must answer a defined HRESULT; nothing may
// crash, leak a reference, leave a temporary file or keep the module.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "Soak.h"
#include "support/Fakes.h"
#include "support/Variants.h"

using Microsoft::WRL::ComPtr;
using comtest::Var;

namespace soak {
namespace {

// What the by-reference values point at.
struct Storage {
    BYTE zeros[64] = {};
    BSTR nullBstr = nullptr;
    Var inner[4], empty;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_I4, 0, 3);
    ~Storage() { ::SafeArrayDestroy(array); }
};

std::vector<std::pair<std::string, Var>> HostileValues(Storage& s)
{
    std::vector<std::pair<std::string, Var>> values;
    auto add = [&](const std::string& name, VARTYPE vt, void* ref) {
        Var v;
        V_VT(&v) = vt;
        V_BYREF(&v) = ref; // a plain value's payload: null, zero, empty
        values.emplace_back(name, std::move(v));
    };
    // Every plain type with an empty payload, then each by reference to zeros.
    for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR,
                       VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT}) {
        add("vt " + std::to_string(vt), vt, nullptr);
        if (vt != VT_EMPTY && vt != VT_NULL)
            add("byref vt " + std::to_string(vt), VT_BYREF | vt, s.zeros);
    }
    add("byref null BSTR", VT_BYREF | VT_BSTR, &s.nullBstr);
    values.emplace_back("empty BSTR", Var::Str(""));
    // Nested by-reference VARIANTs, four deep, ending in a string.
    V_VT(&s.inner[3]) = VT_BSTR;
    V_BSTR(&s.inner[3]) = ::SysAllocString(L"x");
    for (int i = 2; i >= 0; --i) {
        V_VT(&s.inner[i]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&s.inner[i]) = &s.inner[i + 1];
    }
    add("nested byref VARIANT", VT_BYREF | VT_VARIANT, &s.inner[0]);
    add("byref VARIANT to empty", VT_BYREF | VT_VARIANT, &s.empty);
    add("array of I4", VT_ARRAY | VT_I4, ::SafeArrayCreateVector(VT_I4, 0, 3));
    add("byref array", VT_BYREF | VT_ARRAY | VT_I4, &s.array);
    add("null array", VT_ARRAY | VT_BSTR, nullptr);
    values.emplace_back("I2 min", Var::Of(VT_I2, SHRT_MIN));
    values.emplace_back("I4 max", Var::Of(VT_I4, INT_MAX));
    values.emplace_back("I4 min", Var::Of(VT_I4, INT_MIN));
    values.emplace_back("UI4 max", Var::Of(VT_UI4, UINT_MAX));
    values.emplace_back("I8 max", Var::Of(VT_I8, LLONG_MAX));
    values.emplace_back("R8 max", Var::Of(VT_R8, DBL_MAX));
    values.emplace_back("R8 NaN", Var::Of(VT_R8, std::nan("")));
    values.emplace_back("R4 -inf", Var::Of(VT_R4, -HUGE_VALF));
    values.emplace_back("R8 -0.5", Var::Of(VT_R8, -0.5));
    values.emplace_back("DATE max", Var::Of(VT_DATE, 2958465.99));
    add("CY max", VT_CY, nullptr);
    V_CY(&values.back().second).int64 = LLONG_MAX;
    add("DECIMAL max", VT_DECIMAL, nullptr);
    V_DECIMAL(&values.back().second).Hi32 = UINT_MAX;
    V_DECIMAL(&values.back().second).Lo64 = ULLONG_MAX;
    V_VT(&values.back().second) = VT_DECIMAL; // the DECIMAL overlays the type field
    values.emplace_back("missing", Var::Missing());
    add("invalid type 0x7F", 0x7F, nullptr);
    add("VT_ILLEGAL", VT_ILLEGAL, nullptr);
    return values;
}

bool Defined(HRESULT hr)
{
    static const HRESULT kDefined[] = {S_OK, S_FALSE, E_NOTIMPL, E_NOINTERFACE, E_POINTER, E_FAIL, E_UNEXPECTED,
                                       E_INVALIDARG, E_OUTOFMEMORY, E_ABORT, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW,
                                       DISP_E_BADVARTYPE, DISP_E_PARAMNOTFOUND, CLASS_E_CLASSNOTAVAILABLE,
                                       REGDB_E_CLASSNOTREG, E_ACCESSDENIED,
                                       // a component's own failure, passed on: the input file does not exist
                                       HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)};
    return std::find(std::begin(kDefined), std::end(kDefined), hr) != std::end(kDefined);
}

// Good fakes (formats 901..904) among a malformed catalogue.
void InstallMalformed(fakes::Installation& inst, int garbage)
{
    fakes::Behaviour failsCreation, formatFails, nullFormat;
    failsCreation.createResult = E_OUTOFMEMORY;
    formatFails.sourceFormatResult = E_FAIL;
    nullFormat.nullSourceFormat = true;
    inst.Converter("GoodA", {901, "H-a", "ha", "ha"}, {902, "H-b", "hb", "hb"})
        .Translator("GoodB", {902, "H-b", "hb", "hb"}, {903, "H-c", "hc", "hc"})
        .Converter("GoodC", {903, "H-c", "hc", "hc"}, {904, "H-d", "hd", "hd"})
        .Converter("FailsCreation", {911, "H-x", "hx", "hx"}, {912, "H-y", "hy", "hy"}, failsCreation)
        .Converter("FormatFails", {913, "H-x", "hx", "hx"}, {914, "H-y", "hy", "hy"}, formatFails)
        .Converter("NullFormat", {915, "H-x", "hx", "hx"}, {916, "H-y", "hy", "hy"}, nullFormat)
        .CatalogueEntry("{00000000-0000-0000-0000-0000000000AA}") // a class that is not registered
        .CatalogueEntry("{not a clsid")
        .CatalogueEntry(std::wstring(L"Soak.\u00e9\u4e2d"))
        .CurVer("Soak.EmptyCurVer", "")
        .CurVerRaw("Soak.DwordCurVer", REG_DWORD, {1, 0, 0, 0})
        .CurVerRaw("Soak.Unterminated", REG_SZ, {'S', 0, 'o', 0, 'a', 0}) // no terminator
        .CurVerRaw("Soak.OddBytes", REG_SZ, {'S', 0, 'o'})
        .CurVer("Soak.SelfLoop", "Soak.SelfLoop");
    for (const char* name : {"Soak.EmptyCurVer", "Soak.DwordCurVer", "Soak.Unterminated", "Soak.OddBytes", "Soak.SelfLoop"})
        inst.CatalogueEntry(name);
    for (int i = 0; i < garbage; ++i)
        inst.CatalogueEntry("Soak.Garbage." + std::to_string(i));
    inst.Install();
}

} // namespace

int RunHostile()
{
    const int garbage = 10000;
    fakes::Installation inst;
    const ULONGLONG t0 = ::GetTickCount64();
    InstallMalformed(inst, garbage);
    const long tempBefore = TempFiles();
    std::map<std::string, std::map<HRESULT, int>> results;
    int undefined = 0;
    auto note = [&](const std::string& call, const std::string& value, HRESULT hr) {
        ++results[call][hr];
        if (Defined(hr))
            return;
        ++undefined;
        std::printf("  undefined: %s(%s) -> 0x%08lX\n", call.c_str(), value.c_str(), static_cast<unsigned long>(hr));
    };
    {
        ComPtr<ITolviFTManager> manager = CreateManager();
        const ULONGLONG t1 = ::GetTickCount64();
        ComPtr<ITolviFileFormats> f;
        HRESULT hr = manager->get_ConvertSourceFormats(&f);
        short count = 0;
        if (f)
            f->get_Count(&count);
        std::printf("hostile: catalogue of %d entries (%d without a class, 8 malformed, 3 failing fakes, 3 good "
                    "ones): written in %.1f s, loaded in %.1f s: 0x%08lX, %d source formats\n",
                    garbage + 14, garbage, (t1 - t0) / 1000.0, (::GetTickCount64() - t1) / 1000.0,
                    static_cast<unsigned long>(hr), count);
        note("ConvertSourceFormats", "malformed catalogue", hr);
        note("TranslateSourceFormats", "malformed catalogue", manager->get_TranslateSourceFormats(f.ReleaseAndGetAddressOf()));

        ComPtr<ITolviFileTranslator> chain;
        ComPtr<ITolviFileTranslator2> chain2;
        CheckHr("the good chain", Translator(manager.Get(), 901, 904, &chain));
        CheckHr("ITolviFileTranslator2", chain.As(&chain2));
        Storage storage;
        const auto values = HostileValues(storage);
        const Var good = Var::I2(901), goodTarget = Var::I2(904), mode = Var::Str("Mode"), priority = Var::Str("PRIORITY");
        vembro::unique_bstr in = comtest::Bstr("C:\\nonexistent\\in.ha"), out = comtest::Bstr("C:\\nonexistent\\out.hd");
        ComPtr<IStream> inStream, outStream;
        ::CreateStreamOnHGlobal(nullptr, TRUE, &inStream);
        ::CreateStreamOnHGlobal(nullptr, TRUE, &outStream);
        for (const auto& [n, v] : values) {
            note("ConvertTargetFormats", n, manager->get_ConvertTargetFormats(v, f.ReleaseAndGetAddressOf()));
            note("TranslateTargetFormats", n, manager->get_TranslateTargetFormats(v, f.ReleaseAndGetAddressOf()));
            for (auto type : {FILEDATATYPE_FILENAME, FILEDATATYPE_STREAM, FILEDATATYPE_TEXT, tagFILEDATATYPE(7)}) {
                note("ConvertAvailableFormats", n, manager->get_ConvertAvailableFormats(v, type, f.ReleaseAndGetAddressOf()));
                note("TranslateAvailableFormats", n, manager->get_TranslateAvailableFormats(v, type, f.ReleaseAndGetAddressOf()));
                note("chain IsFormatAvailable", n, chain->IsFormatAvailable(v, type));
            }
            ComPtr<ITolviFileConverter> c;
            ComPtr<ITolviFileTranslator> t;
            note("Converter(v, 902)", n, manager->get_Converter(v, Var::I2(902), c.ReleaseAndGetAddressOf()));
            note("Converter(901, v)", n, manager->get_Converter(good, v, c.ReleaseAndGetAddressOf()));
            note("Translator(v, 904)", n, manager->get_Translator(v, goodTarget, t.ReleaseAndGetAddressOf()));
            note("Translator(901, v)", n, manager->get_Translator(good, v, t.ReleaseAndGetAddressOf()));
            Var answer;
            note("chain get_Property", n, chain->get_Property(v, &answer));
            note("chain put_Property(v, Mode)", n, chain->put_Property(v, mode));
            note("chain put_Property(Mode, v)", n, chain->put_Property(mode, v));
            note("chain put_Property(PRIORITY, v)", n, chain->put_Property(priority, v));
            note("chain TranslateFile(info v)", n, chain->TranslateFile(chain.Get(), in.get(), out.get(), v));
            note("chain Stop(v)", n, chain->Stop(v));
            note("chain TranslateStream(info v)", n, chain->TranslateStream(chain.Get(), inStream.Get(), outStream.Get(), v));
            note("chain Stop(v)", n, chain->Stop(v));
            note("chain SyncTranslateFile(reserved v)", n, chain2->SyncTranslateFile(chain.Get(), in.get(), out.get(), v));
        }
        std::printf("hostile: %zu values to every VARIANT argument\n", values.size());
        for (auto& [call, byResult] : results) {
            std::printf("  %-38s", call.c_str());
            for (auto& [code, times] : byResult)
                std::printf(" %08lX x%d", static_cast<unsigned long>(code), times);
            std::printf("\n");
        }
    }
    const bool idle = inst.WaitIdle(30000);
    const HRESULT unload = CanUnloadNow();
    const long tempLeft = TempFiles() - tempBefore;
    std::printf("hostile: undefined results %d, fake objects alive %ld, temporary files left %ld, DllCanUnloadNow "
                "0x%08lX\n", undefined, inst.LiveObjects(), tempLeft, static_cast<unsigned long>(unload));
    const bool ok = undefined == 0 && idle && inst.LiveObjects() == 0 && tempLeft <= 0 && unload == S_OK;
    std::printf("hostile: %s\n", ok ? "clean" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace soak
