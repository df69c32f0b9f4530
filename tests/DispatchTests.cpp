// IDispatch served from the registered type library, on a format object with
// fixed values: every DISPID against its slot, the library spellings, the
// loader's failure and the retry, and the QueryInterface table.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Error.h"
#include "vembro/com/Module.h"
#include "vembro/com/Object.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;
using comtest::kPoison;

namespace {

constexpr LCID kEnglish = 0x0409;
constexpr SYSKIND kSyskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

class FixedFileFormat : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileFormat> {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(FixedFileFormat, ITolviFileFormat),
            VEMBRO_QI_AS(FixedFileFormat, IID_IDispatch, ITolviFileFormat),
            VEMBRO_QI_END,
        };
        return table;
    }

    STDMETHODIMP get_Name(BSTR* pVal) noexcept override { return Text(L"Rich Text Format", pVal); }
    STDMETHODIMP get_DefaultExtention(BSTR* pVal) noexcept override { return Text(L"rtf", pVal); }
    STDMETHODIMP get_Extentions(BSTR* pVal) noexcept override { return Text(L"rtf;wri", pVal); }
    STDMETHODIMP get_ID(short* pVal) noexcept override { return Value<short>(42, pVal); }
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* pVal) noexcept override { return Value<VARIANT_BOOL>(VARIANT_TRUE, pVal); }

private:
    template <class T>
    static HRESULT Value(T value, T* pVal) noexcept
    {
        if (!pVal)
            return E_POINTER;
        *pVal = value;
        return S_OK;
    }

    static HRESULT Text(const wchar_t* value, BSTR* pVal) noexcept
    try {
        vembro::ThrowIfNull(pVal);
        *pVal = nullptr;
        *pVal = vembro::MakeBstr(value).release();
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()
};

HRESULT RegisterLibrary()
{
    ComPtr<ITypeLib> lib;
    return ::LoadTypeLibEx(L"" VEMBRO_TLB_PATH, REGKIND_REGISTER, &lib);
}

class DispatchObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // Start unregistered and with nothing cached, whatever ran before.
        vembro::TypeInfoHolder::ReleaseAll();
        ::UnRegisterTypeLib(LIBID_VEMBROLib, 1, 0, kEnglish, kSyskind);
        ASSERT_EQ(0, vembro::ModuleLockCount());
        ASSERT_EQ(S_OK, (vembro::CreateAndQuery_nothrow<vembro::CComObject<FixedFileFormat>>(
                            IID_ITolviFileFormat, reinterpret_cast<void**>(m_format.GetAddressOf()),
                            [](FixedFileFormat&) { return S_OK; })));
    }

    void TearDown() override
    {
        m_format.Reset();
        EXPECT_EQ(0, vembro::ModuleLockCount());
        vembro::TypeInfoHolder::ReleaseAll();
        ::UnRegisterTypeLib(LIBID_VEMBROLib, 1, 0, kEnglish, kSyskind);
        ::CoUninitialize();
    }

    ComPtr<ITolviFileFormat> m_format;
};

TEST_F(DispatchObject, UnregisteredLibraryGivesTheLoadersErrorAndIsTriedAgain)
{
    ITypeInfo* info = static_cast<ITypeInfo*>(kPoison);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, m_format->GetTypeInfo(0, kEnglish, &info));
    EXPECT_EQ(nullptr, info);

    LPOLESTR name = const_cast<LPOLESTR>(L"Name");
    DISPID id = 0;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
    DISPPARAMS none{};
    vembro::unique_variant result;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
              m_format->Invoke(0x60020000, IID_NULL, kEnglish, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));

    // The failure was not remembered: once registered, the next call loads.
    ASSERT_EQ(S_OK, RegisterLibrary());
    ComPtr<ITypeInfo> loaded;
    EXPECT_EQ(S_OK, m_format->GetTypeInfo(0, kEnglish, &loaded));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(S_OK, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
    EXPECT_EQ(0x60020000, id);
}

TEST_F(DispatchObject, TypeInfoCountIsOne)
{
    UINT count = 77;
    EXPECT_EQ(S_OK, m_format->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
}

TEST_F(DispatchObject, NullResultPointersGiveEPointer)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    EXPECT_EQ(E_POINTER, m_format->GetTypeInfoCount(nullptr));
    EXPECT_EQ(E_POINTER, m_format->GetTypeInfo(0, kEnglish, nullptr));
}

TEST_F(DispatchObject, GetTypeInfoIgnoresItsIndex)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    ComPtr<ITypeInfo> first;
    ASSERT_EQ(S_OK, m_format->GetTypeInfo(0, kEnglish, &first));
    for (UINT index : { 1u, 13u, UINT_MAX }) {
        SCOPED_TRACE(index);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, m_format->GetTypeInfo(index, kEnglish, &info));
        EXPECT_EQ(first.Get(), info.Get());
    }
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeAttr(&attr));
    EXPECT_TRUE(::IsEqualGUID(IID_ITolviFileFormat, attr->guid));
    first->ReleaseTypeAttr(attr);
}

// Dispatch clients find the members only under the library's spellings.
TEST_F(DispatchObject, GetIDsOfNamesUsesTheLibrarySpellings)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    const std::pair<const wchar_t*, DISPID> known[] = {
        { L"Name", 0x60020000 },
        { L"DefaultExtention", 0x60020001 },
        { L"Extentions", 0x60020002 },
        { L"ID", 0x60020003 },
        { L"IsComplex", 0x60020004 },
    };
    for (const auto& [text, expected] : known) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(text)));
        LPOLESTR name = const_cast<LPOLESTR>(text);
        DISPID id = 0;
        EXPECT_EQ(S_OK, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
        EXPECT_EQ(expected, id);
    }
    for (const wchar_t* text : { L"DefaultExtension", L"Extensions" }) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(text)));
        LPOLESTR name = const_cast<LPOLESTR>(text);
        DISPID id = 0;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
        EXPECT_EQ(DISPID_UNKNOWN, id);
    }
}

// The value that a call through the slot gives, as a VARIANT.
using SlotCall = std::function<HRESULT(ITolviFileFormat*, VARIANT*)>;
struct MemberRow {
    DISPID id;
    SlotCall call;
};

const std::vector<MemberRow>& Members()
{
    auto text = [](HRESULT (STDMETHODCALLTYPE ITolviFileFormat::*get)(BSTR*)) {
        return [get](ITolviFileFormat* p, VARIANT* v) {
            V_VT(v) = VT_BSTR;
            return (p->*get)(&V_BSTR(v));
        };
    };
    static const std::vector<MemberRow> rows = {
        { 0x60020000, text(&ITolviFileFormat::get_Name) },
        { 0x60020001, text(&ITolviFileFormat::get_DefaultExtention) },
        { 0x60020002, text(&ITolviFileFormat::get_Extentions) },
        { 0x60020003, [](ITolviFileFormat* p, VARIANT* v) { V_VT(v) = VT_I2; return p->get_ID(&V_I2(v)); } },
        { 0x60020004, [](ITolviFileFormat* p, VARIANT* v) { V_VT(v) = VT_BOOL; return p->get_IsComplex(&V_BOOL(v)); } },
    };
    return rows;
}

TEST_F(DispatchObject, InvokeByDispidEqualsTheCallThroughTheSlot)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, m_format.As(&dispatch));
    for (const MemberRow& row : Members()) {
        SCOPED_TRACE(row.id);
        vembro::unique_variant direct;
        ASSERT_EQ(S_OK, row.call(m_format.Get(), &direct));

        vembro::unique_variant invoked;
        DISPPARAMS none{};
        UINT argErr = 0;
        ASSERT_EQ(S_OK, dispatch->Invoke(row.id, IID_NULL, kEnglish, DISPATCH_PROPERTYGET, &none, &invoked,
                                         nullptr, &argErr));
        ASSERT_EQ(V_VT(&direct), V_VT(&invoked));
        EXPECT_EQ(static_cast<HRESULT>(VARCMP_EQ), ::VarCmp(&direct, &invoked, kEnglish, 0));
    }
    // Dispatching took no reference of its own: m_format and dispatch only.
    EXPECT_EQ(2u, RefCount(m_format.Get()));
}

// The format members answer to 0x60020000 upward and to nothing below.
TEST_F(DispatchObject, InvokeOfAnUnknownDispidFails)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    for (DISPID id : { 0, 1, 3, 0x60020005 }) {
        SCOPED_TRACE(id);
        DISPPARAMS none{};
        vembro::unique_variant result;
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
                  m_format->Invoke(id, IID_NULL, kEnglish, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
        EXPECT_EQ(VT_EMPTY, V_VT(&result));
    }
}

TEST_F(DispatchObject, InvokeWithAnInterfaceIdFails)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    DISPPARAMS none{};
    vembro::unique_variant result;
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, m_format->Invoke(0x60020000, IID_ITolviFileFormat, kEnglish,
                                                         DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
}

TEST_F(DispatchObject, QueryInterfaceAnswersExactlyItsTable)
{
    ASSERT_EQ(1u, RefCount(m_format.Get()));
    EXPECT_EQ(1, vembro::ModuleLockCount());

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, m_format.As(&unknown));
    EXPECT_EQ(2u, RefCount(m_format.Get()));
    ComPtr<IUnknown> unknownAgain;
    ASSERT_EQ(S_OK, m_format.As(&unknownAgain));
    EXPECT_EQ(unknown.Get(), unknownAgain.Get()); // one identity
    EXPECT_EQ(3u, RefCount(m_format.Get()));

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, m_format.As(&dispatch));
    EXPECT_EQ(4u, RefCount(m_format.Get()));
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, dispatch.As(&format));
    EXPECT_EQ(m_format.Get(), format.Get());
    EXPECT_EQ(5u, RefCount(m_format.Get()));

    const IID* refused[] = { &IID_ITolviFileFormats, &IID_ITolviFileTranslator, &IID_ITolviFileConverter,
                             &IID_IConnectionPointContainer, &IID_ISupportErrorInfo, &IID_IPersist,
                             &IID_IClassFactory };
    for (const IID* iid : refused) {
        void* pv = kPoison;
        EXPECT_EQ(E_NOINTERFACE, m_format->QueryInterface(*iid, &pv));
        EXPECT_EQ(nullptr, pv);
    }
    EXPECT_EQ(E_POINTER, m_format->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(5u, RefCount(m_format.Get()));

    unknown.Reset();
    unknownAgain.Reset();
    dispatch.Reset();
    format.Reset();
    EXPECT_EQ(1u, RefCount(m_format.Get()));
    EXPECT_EQ(1, vembro::ModuleLockCount());
}

} // namespace
