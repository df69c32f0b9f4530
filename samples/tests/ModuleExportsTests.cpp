// A sample DLL's exports as COM and regsvr32 call them.
#include <gtest/gtest.h>

#include "Recorder.h"
#include "markdown/MarkdownConverter.h"
#include "pseudoloc/PseudoTranslator.h"

using Microsoft::WRL::ComPtr;

namespace {

void* Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(module, name));
}

class SampleDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = ::LoadLibraryW(L"" VEMBRO_SAMPLES_DIR "/markdown.dll");
        ASSERT_NE(nullptr, m_module);
        getClassObject = reinterpret_cast<decltype(getClassObject)>(Proc(m_module, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(Proc(m_module, "DllCanUnloadNow"));
        ASSERT_NE(nullptr, getClassObject);
        ASSERT_NE(nullptr, canUnloadNow);
        ASSERT_NE(nullptr, ::GetProcAddress(m_module, "DllRegisterServer"));
        ASSERT_NE(nullptr, ::GetProcAddress(m_module, "DllUnregisterServer"));
    }
    void TearDown() override
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }

    HMODULE m_module = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};

} // namespace

TEST_F(SampleDll, FactoryMakesTheConverter)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(samples::CLSID_SampleMarkdownConverter, IID_PPV_ARGS(&factory)));
    ComPtr<ITolviFileConverter> converter;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&converter)));
    EXPECT_EQ(S_FALSE, canUnloadNow());
    ComPtr<ITolviFileFormat> source;
    ASSERT_EQ(S_OK, converter->get_SourceFormat(&source));
    short id = 0;
    EXPECT_EQ(S_OK, source->get_ID(&id));
    EXPECT_EQ(103, id);
    source.Reset();
    converter.Reset();
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(SampleDll, FactoryRefusesAggregationAndUnknownInterfaces)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(samples::CLSID_SampleMarkdownConverter, IID_PPV_ARGS(&factory)));
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_ITolviFileTranslator, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(SampleDll, LockServerHoldsTheModule)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(samples::CLSID_SampleMarkdownConverter, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(SampleDll, OtherClassesAreNotAvailable)
{
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(samples::CLSID_SamplePseudoTranslator, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_POINTER, getClassObject(samples::CLSID_SampleMarkdownConverter, IID_IClassFactory, nullptr));
}
