#pragma once
// Helpers of the catalogue and planning tests: identifier lists written
// inline, and small in-test format objects whose properties answer from plain
// fields, may be told to fail, and record the order of the calls.
#include <windows.h>
#include <oleauto.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "catalogue/FormatIDs.h"
#include "chains/Chain.h"
#include "vembro/Vembro.h"

namespace catalogue_test {

inline vembro::CFormatIDs List(std::initializer_list<short> ids)
{
    vembro::CFormatIDs list;
    for (short id : ids)
        list.Add(id);
    return list;
}

inline vembro::CChain Chain(std::initializer_list<vembro::CChainItem> items)
{
    vembro::CChain chain;
    for (const vembro::CChainItem& item : items)
        chain.Add(item);
    return chain;
}

class TestFormat : public ITolviFileFormat {
public:
    short id = -1;
    const wchar_t* name = nullptr;        // null: the object reports a NULL name
    const wchar_t* defaultExt = nullptr;
    const wchar_t* exts = nullptr;
    bool complex = false;
    std::string failOn;                   // "Name", "IsComplex", ... answers E_FAIL there
    HRESULT failure = E_FAIL;
    std::vector<std::string> calls;
    LONG refs = 1;                        // the test's own reference

    TestFormat(short id_, const wchar_t* name_, const wchar_t* defaultExt_ = L"", const wchar_t* exts_ = L"",
               bool complex_ = false)
        : id(id_), name(name_), defaultExt(defaultExt_), exts(exts_), complex(complex_)
    {
    }
    virtual ~TestFormat() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITolviFileFormat) {
            *ppv = static_cast<ITolviFileFormat*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(::InterlockedDecrement(&refs)); }

    // IDispatch: the store never dispatches.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // ITolviFileFormat
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override { return String("Name", name, pVal); }
    HRESULT STDMETHODCALLTYPE get_DefaultExtention(BSTR* pVal) override
    {
        return String("DefaultExtention", defaultExt, pVal);
    }
    HRESULT STDMETHODCALLTYPE get_Extentions(BSTR* pVal) override { return String("Extentions", exts, pVal); }
    HRESULT STDMETHODCALLTYPE get_ID(short* pVal) override
    {
        calls.push_back("ID");
        *pVal = 0;
        if (failOn == "ID")
            return failure;
        *pVal = id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsComplex(VARIANT_BOOL* pVal) override
    {
        calls.push_back("IsComplex");
        *pVal = VARIANT_FALSE;
        if (failOn == "IsComplex")
            return failure;
        *pVal = complex ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    HRESULT String(const char* property, const wchar_t* value, BSTR* pVal)
    {
        calls.push_back(property);
        *pVal = nullptr;
        if (failOn == property)
            return failure;
        if (value) {
            *pVal = ::SysAllocString(value);
            if (!*pVal)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    }
};

} // namespace catalogue_test
