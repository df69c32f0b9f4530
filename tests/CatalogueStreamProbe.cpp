// Probing a converter with a stream: the stream is put back where it was
// whatever the converter does, and anything that keeps the converter from
// answering counts as "cannot tell" (a failure code).
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <functional>

#include "catalogue/StreamProbe.h"
#include "vembro/com/Error.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;

namespace {

// A converter that only knows IsFormatAvailableStream.
class ProbeConverter : public ITolviFileConverter {
public:
    std::function<HRESULT(IUnknown*)> probe;
    int probes = 0;
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITolviFileConverter) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_SourceFormat(ITolviFileFormat**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TargetFormat(ITolviFileFormat**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatAvailableStream(IUnknown* stream) override
    {
        ++probes;
        return probe(stream);
    }
    HRESULT STDMETHODCALLTYPE IsFormatAvailableFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertFile(BSTR, BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_State(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertStream(IUnknown*, IUnknown*, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertMemory(BSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatAvailableMemory(BSTR) override { return E_NOTIMPL; }
};

// A memory stream whose Seek can be made to fail, by origin.
class FlakyStream : public IStream {
public:
    explicit FlakyStream(IStream* inner) : m_inner(inner) {}
    bool failCurrent = false;
    bool failSet = false;
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override { return m_inner->Read(pv, cb, read); }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override
    {
        return m_inner->Write(pv, cb, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        if ((origin == STREAM_SEEK_CUR && failCurrent) || (origin == STREAM_SEEK_SET && failSet))
            return STG_E_INVALIDFUNCTION;
        return m_inner->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    IStream* m_inner;
};

class CatalogueStreamProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()));
        ULONG written = 0;
        ASSERT_EQ(S_OK, stream->Write("0123456789", 10, &written));
        Seek(3);
        // The converter reads a few bytes, as a real one would.
        converter.probe = [](IUnknown* data) -> HRESULT {
            ComPtr<IStream> s;
            if (FAILED(data->QueryInterface(IID_PPV_ARGS(&s))))
                return E_NOINTERFACE;
            char buffer[5];
            ULONG read = 0;
            return s->Read(buffer, sizeof buffer, &read);
        };
    }
    void Seek(LONGLONG position)
    {
        LARGE_INTEGER li;
        li.QuadPart = position;
        ASSERT_EQ(S_OK, stream->Seek(li, STREAM_SEEK_SET, nullptr));
    }
    ULONGLONG Position(IStream* s = nullptr)
    {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        EXPECT_EQ(S_OK, (s ? s : stream.Get())->Seek(zero, STREAM_SEEK_CUR, &position));
        return position.QuadPart;
    }

    ComPtr<IStream> stream;
    ProbeConverter converter;
};

} // namespace

TEST_F(CatalogueStreamProbe, AnswerIsPassedOnAndThePositionRestored)
{
    EXPECT_EQ(S_OK, ProbeStream(&converter, stream.Get()));
    EXPECT_EQ(3u, Position());
    converter.probe = [](IUnknown*) { return S_FALSE; };
    EXPECT_EQ(S_FALSE, ProbeStream(&converter, stream.Get()));
    EXPECT_EQ(1, converter.refs);
}

TEST_F(CatalogueStreamProbe, AThrowingProbeCannotTellAndThePositionIsRestored)
{
    converter.probe = [](IUnknown* data) -> HRESULT {
        ComPtr<IStream> s;
        data->QueryInterface(IID_PPV_ARGS(&s));
        char buffer[4];
        s->Read(buffer, sizeof buffer, nullptr);
        ThrowHr(static_cast<HRESULT>(0x80045555));
    };
    EXPECT_EQ(static_cast<HRESULT>(0x80045555), ProbeStream(&converter, stream.Get()));
    EXPECT_EQ(3u, Position());
}

TEST_F(CatalogueStreamProbe, AnObjectWithoutIStreamCannotTellAndTheConverterIsNotCalled)
{
    ProbeConverter notAStream;
    EXPECT_EQ(E_NOINTERFACE, ProbeStream(&converter, &notAStream));
    EXPECT_EQ(0, converter.probes);
    EXPECT_EQ(1, notAStream.refs);
}

TEST_F(CatalogueStreamProbe, AnUnreadablePositionCannotTellAndTheConverterIsNotCalled)
{
    FlakyStream flaky(stream.Get());
    flaky.failCurrent = true;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, ProbeStream(&converter, &flaky));
    EXPECT_EQ(0, converter.probes);
    EXPECT_EQ(3u, Position());
    EXPECT_EQ(1, flaky.refs);
}

TEST_F(CatalogueStreamProbe, AFailingSeekBackLeavesTheAnswer)
{
    FlakyStream flaky(stream.Get());
    flaky.failSet = true;
    EXPECT_EQ(S_OK, ProbeStream(&converter, &flaky));
    EXPECT_EQ(8u, Position()); // read 5 bytes from 3, could not go back
}
