#pragma once
// A component DLL built with the kit names its classes once:
//
//     VEMBRO_KIT_CLASSES(
//         vembro::kit::ConverterClass<CUpper>(CLSID_Upper, L"Acme.Upper", L"Lower to upper case"));
//
// and gets DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer from the kit (vembro_add_component in kit/CMakeLists.txt).
// Registration writes the class (InprocServer32, ThreadingModel "Both",
// ProgID) and then either the converter catalogue entry
// HKLM\Software\Tolvi Labs\Devevi9\FTM\Converters\<ProgID> or the translator
// category (CATID = IID_ITolviFileTranslator2).
#include <windows.h>
#include <cstddef>

#include "vembro/com/Object.h"
#include "vembro/kit/Checks.h"

namespace vembro::kit {

template <class Derived> class Converter;
template <class Derived> class Translator;

// Object: a plain creatable class (class key and ProgID only), such as an
// automation object that the DLL's clients create for its components.
enum class ComponentKind { Converter, Translator, Object };

struct ComponentClass {
    const CLSID* clsid;
    const wchar_t* progId;
    const wchar_t* description;
    ComponentKind kind;
    HRESULT (*create)(REFIID riid, void** ppv) noexcept;
};

template <class T>
HRESULT CreateComponent_nothrow(REFIID riid, void** ppv) noexcept
{
    return CreateAndQuery_nothrow<CComObject<T>>(riid, ppv, [](T&) { return S_OK; });
}

template <class T>
constexpr ComponentClass ConverterClass(const CLSID& clsid, const wchar_t* progId, const wchar_t* description)
{
    static_assert(checks::CommonMembers<T>());
    static_assert(checks::HasConvert<T>::value,
                  "a converter class needs 'void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)'");
    static_assert(std::is_base_of_v<Converter<T>, T>, "a converter class derives from vembro::kit::Converter<itself>");
    return {&clsid, progId, description, ComponentKind::Converter, &CreateComponent_nothrow<T>};
}

template <class T>
constexpr ComponentClass TranslatorClass(const CLSID& clsid, const wchar_t* progId, const wchar_t* description)
{
    static_assert(checks::CommonMembers<T>());
    static_assert(checks::HasTranslate<T>::value,
                  "a translator class needs 'void Translate(IDispatch* direction, IStream* in, IStream* out, "
                  "vembro::kit::Progress& progress)'");
    static_assert(std::is_base_of_v<Translator<T>, T>, "a translator class derives from vembro::kit::Translator<itself>");
    return {&clsid, progId, description, ComponentKind::Translator, &CreateComponent_nothrow<T>};
}

template <class T>
constexpr ComponentClass ObjectClass(const CLSID& clsid, const wchar_t* progId, const wchar_t* description)
{
    return {&clsid, progId, description, ComponentKind::Object, &CreateComponent_nothrow<T>};
}

// The classes of this DLL (defined by VEMBRO_KIT_CLASSES).
struct ComponentTable {
    const ComponentClass* classes;
    size_t count;
};
ComponentTable Components() noexcept;

// Registry work for one class; the module path is the DLL's full path.
HRESULT RegisterComponent_nothrow(const ComponentClass& cls, const wchar_t* modulePath) noexcept;
// Removes what RegisterComponent_nothrow wrote; absent keys are not an error.
HRESULT UnregisterComponent_nothrow(const ComponentClass& cls) noexcept;

} // namespace vembro::kit

#define VEMBRO_KIT_CLASSES(...)                                                      \
    namespace vembro::kit {                                                          \
    ComponentTable Components() noexcept                                             \
    {                                                                                \
        static const ComponentClass classes[] = {__VA_ARGS__};                       \
        return {classes, sizeof(classes) / sizeof(classes[0])};                      \
    }                                                                                \
    }
