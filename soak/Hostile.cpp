// Hostile input through the COM surface: every VARTYPE (plain, by
// reference, nested by-reference VARIANTs, arrays, null strings, empty
// values, extreme numbers, invalid types) to every VARIANT argument of the
// manager and the chain translator, and a malformed catalogue of more than
// 10,000 entries. Each call must answer a defined HRESULT; nothing may
// crash, leak a reference, leave a temporary file or keep the module.
#include <windows.h>
#include <oleauto.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SoakClient.h"
#include "support/Fakes.h"

using Microsoft::WRL::ComPtr;

namespace soak {
namespace {

// A VARIANT with whatever it refers to kept alive alongside.
struct Value {
    std::string name;
    VARIANT v;
};

struct Storage {
    VARIANT inner[4];
    BYTE zeros[64] = {};
    BSTR nullBstr = nullptr;
    BSTR text = ::SysAllocString(L"x");
    SAFEARRAY* array = nullptr;
    Storage()
    {
        for (auto& v : inner)
            ::VariantInit(&v);
    }
    ~Storage()
    {
        ::SysFreeString(text);
        if (array)
            ::SafeArrayDestroy(array);
    }
};

std::vector<Value> HostileValues(Storage& s)
{
    std::vector<Value> values;
    auto add = [&](const std::string& name, VARTYPE vt, std::function<void(VARIANT&)> fill) {
        Value value{name, {}};
        ::VariantInit(&value.v);
        V_VT(&value.v) = vt;
        if (fill)
            fill(value.v);
        values.push_back(value);
    };
    // Every plain type with an empty payload (null strings and interfaces,
    // zero numbers), then each type by reference to zeroed storage.
    static const VARTYPE kPlain[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR,
                                     VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1,
                                     VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT};
    for (VARTYPE vt : kPlain) {
        add("vt " + std::to_string(vt), vt, nullptr);
        if (vt != VT_EMPTY && vt != VT_NULL)
            add("byref vt " + std::to_string(vt), VT_BYREF | vt, [&](VARIANT& v) { V_BYREF(&v) = s.zeros; });
    }
    add("byref null BSTR", VT_BYREF | VT_BSTR, [&](VARIANT& v) { V_BSTRREF(&v) = &s.nullBstr; });
    add("empty BSTR", VT_BSTR, [&](VARIANT& v) { V_BSTR(&v) = s.text; });
    // Nested by-reference VARIANTs, four deep, ending in a string.
    V_VT(&s.inner[3]) = VT_BSTR;
    V_BSTR(&s.inner[3]) = s.text;
    for (int i = 2; i >= 0; --i) {
        V_VT(&s.inner[i]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&s.inner[i]) = &s.inner[i + 1];
    }
    add("nested byref VARIANT", VT_BYREF | VT_VARIANT, [&](VARIANT& v) { V_VARIANTREF(&v) = &s.inner[0]; });
    add("byref VARIANT to empty", VT_BYREF | VT_VARIANT, [&](VARIANT& v) {
        static VARIANT empty = {};
        V_VARIANTREF(&v) = &empty;
    });
    s.array = ::SafeArrayCreateVector(VT_I4, 0, 3);
    add("array of I4", VT_ARRAY | VT_I4, [&](VARIANT& v) { V_ARRAY(&v) = s.array; });
    add("byref array", VT_BYREF | VT_ARRAY | VT_I4, [&](VARIANT& v) { V_ARRAYREF(&v) = &s.array; });
    add("null array", VT_ARRAY | VT_BSTR, [&](VARIANT& v) { V_ARRAY(&v) = nullptr; });
    // Extreme numbers.
    add("I2 min", VT_I2, [](VARIANT& v) { V_I2(&v) = SHRT_MIN; });
    add("I4 max", VT_I4, [](VARIANT& v) { V_I4(&v) = INT_MAX; });
    add("I4 min", VT_I4, [](VARIANT& v) { V_I4(&v) = INT_MIN; });
    add("UI4 max", VT_UI4, [](VARIANT& v) { V_UI4(&v) = UINT_MAX; });
    add("I8 max", VT_I8, [](VARIANT& v) { V_I8(&v) = LLONG_MAX; });
    add("R8 max", VT_R8, [](VARIANT& v) { V_R8(&v) = DBL_MAX; });
    add("R8 NaN", VT_R8, [](VARIANT& v) { V_R8(&v) = std::nan(""); });
    add("R4 -inf", VT_R4, [](VARIANT& v) { V_R4(&v) = -HUGE_VALF; });
    add("R8 -0.5", VT_R8, [](VARIANT& v) { V_R8(&v) = -0.5; });
    add("DATE max", VT_DATE, [](VARIANT& v) { V_DATE(&v) = 2958465.99; });
    add("CY max", VT_CY, [](VARIANT& v) { V_CY(&v).int64 = LLONG_MAX; });
    add("DECIMAL max", VT_DECIMAL, [](VARIANT& v) {
        V_DECIMAL(&v).Hi32 = UINT_MAX;
        V_DECIMAL(&v).Lo64 = ULLONG_MAX;
        V_VT(&v) = VT_DECIMAL; // the DECIMAL overlays the type field
    });
    add("missing", VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = DISP_E_PARAMNOTFOUND; });
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
    for (HRESULT d : kDefined) {
        if (hr == d)
            return true;
    }
    return false;
}

// Installs good fakes (formats 901..904) among a malformed catalogue.
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
        .CatalogueEntry("Soak.EmptyCurVer")
        .CurVer("Soak.EmptyCurVer", "")
        .CatalogueEntry("Soak.DwordCurVer")
        .CurVerRaw("Soak.DwordCurVer", REG_DWORD, {1, 0, 0, 0})
        .CatalogueEntry("Soak.Unterminated")
        .CurVerRaw("Soak.Unterminated", REG_SZ, {'S', 0, 'o', 0, 'a', 0}) // no terminator
        .CatalogueEntry("Soak.OddBytes")
        .CurVerRaw("Soak.OddBytes", REG_SZ, {'S', 0, 'o'})
        .CatalogueEntry("Soak.SelfLoop")
        .CurVer("Soak.SelfLoop", "Soak.SelfLoop");
    for (int i = 0; i < garbage; ++i)
        inst.CatalogueEntry("Soak.Garbage." + std::to_string(i));
    inst.Install();
}

} // namespace

int RunHostile()
{
    const int garbage = 10000;
    fakes::Installation inst;
    ULONGLONG t0 = ::GetTickCount64();
    InstallMalformed(inst, garbage);
    const std::string tempFolder = TempFolder();
    const size_t tempBefore = TempFiles(tempFolder);
    std::map<std::string, std::map<HRESULT, int>> results;
    int undefined = 0;
    auto note = [&](const std::string& call, const std::string& value, HRESULT hr) {
        ++results[call][hr];
        if (!Defined(hr)) {
            ++undefined;
            std::printf("  undefined: %s(%s) -> 0x%08lX\n", call.c_str(), value.c_str(), static_cast<unsigned long>(hr));
        }
    };
    {
        ComPtr<ITolviFTManager> manager = CreateManager();
        ULONGLONG t1 = ::GetTickCount64();
        ComPtr<ITolviFileFormats> sources;
        HRESULT hr = manager->get_ConvertSourceFormats(&sources);
        short count = 0;
        if (sources)
            sources->get_Count(&count);
        std::printf("hostile: catalogue of %d entries (%d without a class, 8 malformed, 3 failing fakes, 3 good "
                    "ones): written in %.1f s, loaded in %.1f s: 0x%08lX, %d source formats\n",
                    garbage + 14, garbage, (t1 - t0) / 1000.0, (::GetTickCount64() - t1) / 1000.0,
                    static_cast<unsigned long>(hr), count);
        note("ConvertSourceFormats", "malformed catalogue", hr);
        ComPtr<ITolviFileFormats> translatable;
        note("TranslateSourceFormats", "malformed catalogue", manager->get_TranslateSourceFormats(&translatable));

        ComPtr<ITolviFileTranslator> chain;
        CheckHr("the good chain", Translator(manager.Get(), 901, 904, &chain));
        ComPtr<ITolviFileTranslator2> chain2;
        CheckHr("ITolviFileTranslator2", chain.As(&chain2));
        Storage storage;
        std::vector<Value> values = HostileValues(storage);
        const VARIANT good = I2(901), goodTarget = I2(904);
        VARIANT mode;
        V_VT(&mode) = VT_BSTR;
        V_BSTR(&mode) = ::SysAllocString(L"Mode");
        VARIANT priority;
        V_VT(&priority) = VT_BSTR;
        V_BSTR(&priority) = ::SysAllocString(L"PRIORITY");
        vembro::unique_bstr in(::SysAllocString(L"C:\\nonexistent\\in.ha"));
        vembro::unique_bstr out(::SysAllocString(L"C:\\nonexistent\\out.hd"));
        ComPtr<IStream> inStream, outStream;
        ::CreateStreamOnHGlobal(nullptr, TRUE, &inStream);
        ::CreateStreamOnHGlobal(nullptr, TRUE, &outStream);

        for (Value& value : values) {
            VARIANT& v = value.v;
            const std::string& n = value.name;
            auto formats = [&](const char* call, HRESULT hr, ComPtr<ITolviFileFormats>&) { note(call, n, hr); };
            {
                ComPtr<ITolviFileFormats> f;
                formats("ConvertTargetFormats", manager->get_ConvertTargetFormats(v, &f), f);
                f.Reset();
                formats("TranslateTargetFormats", manager->get_TranslateTargetFormats(v, &f), f);
                for (int type : {0, 1, 2, 7}) {
                    f.Reset();
                    formats("ConvertAvailableFormats", manager->get_ConvertAvailableFormats(v, static_cast<tagFILEDATATYPE>(type), &f), f);
                    f.Reset();
                    formats("TranslateAvailableFormats", manager->get_TranslateAvailableFormats(v, static_cast<tagFILEDATATYPE>(type), &f), f);
                    note("chain IsFormatAvailable", n, chain->IsFormatAvailable(v, static_cast<tagFILEDATATYPE>(type)));
                }
            }
            {
                ComPtr<ITolviFileConverter> c;
                note("Converter(v, 902)", n, manager->get_Converter(v, I2(902), &c));
                c.Reset();
                note("Converter(901, v)", n, manager->get_Converter(good, v, &c));
                ComPtr<ITolviFileTranslator> t;
                note("Translator(v, 904)", n, manager->get_Translator(v, goodTarget, &t));
                t.Reset();
                note("Translator(901, v)", n, manager->get_Translator(good, v, &t));
            }
            VARIANT answer;
            ::VariantInit(&answer);
            note("chain get_Property", n, chain->get_Property(v, &answer));
            ::VariantClear(&answer);
            note("chain put_Property(v, Mode)", n, chain->put_Property(v, mode));
            note("chain put_Property(Mode, v)", n, chain->put_Property(mode, v));
            note("chain put_Property(PRIORITY, v)", n, chain->put_Property(priority, v));
            note("chain TranslateFile(info v)", n, chain->TranslateFile(chain.Get(), in.get(), out.get(), v));
            note("chain Stop(v)", n, chain->Stop(v));
            note("chain TranslateStream(info v)", n, chain->TranslateStream(chain.Get(), inStream.Get(), outStream.Get(), v));
            note("chain Stop(v)", n, chain->Stop(v));
            note("chain SyncTranslateFile(reserved v)", n, chain2->SyncTranslateFile(chain.Get(), in.get(), out.get(), v));
        }
        ::VariantClear(&mode);
        ::VariantClear(&priority);
        std::printf("hostile: %zu values to every VARIANT argument\n", values.size());
        for (auto& [call, byResult] : results) {
            std::printf("  %-38s", call.c_str());
            for (auto& [hr, times] : byResult)
                std::printf(" %08lX x%d", static_cast<unsigned long>(hr), times);
            std::printf("\n");
        }
    }
    const bool idle = inst.WaitIdle(30000);
    const HRESULT unload = CanUnloadNow();
    const size_t tempAfter = TempFiles(tempFolder);
    std::printf("hostile: undefined results %d, fake objects alive %ld, temporary files left %ld, "
                "DllCanUnloadNow 0x%08lX\n",
                undefined, inst.LiveObjects(), static_cast<long>(tempAfter) - static_cast<long>(tempBefore),
                static_cast<unsigned long>(unload));
    const bool ok = undefined == 0 && idle && inst.LiveObjects() == 0 && tempAfter <= tempBefore && unload == S_OK;
    std::printf("hostile: %s\n", ok ? "clean" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace soak
