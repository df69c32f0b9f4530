// The converter registry against the fake components: what the catalogue
// lists, how each converter is asked once for its pair, which converter a
// pair gets, and how the converters are asked about given data.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include "RegistryTestSupport.h"
#include "catalogue/Converters.h"
#include "catalogue/FormatsInfo.h"
#include "vembro/com/Strings.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using fakes::Behaviour;
using fakes::Format;

namespace {

const Format kA{1, "A", "a", "a"};
const Format kB{2, "B", "b", "b"};
const Format kC{3, "C", "c", "c"};
const Format kD{4, "D", "d", "d", true};
const HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

class CatalogueConverters : public RegistryTest {};

} // namespace

// --- loading -----------------------------------------------------------------

TEST_F(CatalogueConverters, EmptyCatalogueLoadsWithNothing)
{
    inst.Install();
    EXPECT_EQ(S_OK, g_Converters.Load());
    EXPECT_TRUE(g_Converters.m_bLoaded);
    EXPECT_EQ(CFormatIDs(), g_Converters.GetSourceIDs());
    ComPtr<ITolviFileConverter> converter;
    EXPECT_EQ(E_INVALIDARG, g_Converters.CreateConverter(1, 2, &converter));
    EXPECT_EQ(nullptr, converter.Get());
}

TEST_F(CatalogueConverters, MissingCatalogueFailsEveryCallAndALaterCallTriesAgain)
{
    inst.Converter("A2B", kA, kB).WithoutCatalogueKey().Install();
    EXPECT_EQ(kFileNotFound, g_Converters.Load());
    EXPECT_FALSE(g_Converters.m_bLoaded);
    ComPtr<ITolviFileConverter> converter;
    EXPECT_EQ(kFileNotFound, g_Converters.CreateConverter(1, 2, &converter));
    StringArg text(L"x");
    EXPECT_EQ(kFileNotFound, Detect(g_Converters, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal().empty());

    // The catalogue appears: the next call reads it.
    bool vendorExisted = false;
    {
        unique_hkey vendor;
        vendorExisted = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tolvi Labs", 0, KEY_READ, vendor.put()) ==
                        ERROR_SUCCESS;
    }
    unique_hkey entry;
    std::string name = kConvertersKeyPath + std::string("\\") + AnsiFromWide(inst.ClsidStringOf("A2B").c_str());
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, entry.put(), nullptr));
    entry.reset();
    EXPECT_EQ(S_OK, g_Converters.CreateConverter(1, 2, &converter));
    EXPECT_NE(nullptr, converter.Get());
    EXPECT_TRUE(g_Converters.m_bLoaded);
    converter.Reset();
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, vendorExisted ? kConvertersKeyPath : "Software\\Tolvi Labs");
}

TEST_F(CatalogueConverters, EachConverterIsAskedOnceForItsPairAndReleased)
{
    inst.Converter("A2B", kA, kB).Converter("B2C", kB, kC).Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    EXPECT_EQ((Lines{"A2B.Create", "A2B.SourceFormat", "A2B.TargetFormat", "A2B.Destroy", "B2C.Create",
                     "B2C.SourceFormat", "B2C.TargetFormat", "B2C.Destroy"}),
              inst.Journal());
    inst.ClearJournal();
    EXPECT_EQ(S_OK, g_Converters.Load());
    EXPECT_TRUE(inst.Journal().empty());
    EXPECT_EQ(List({2, 1}), g_Converters.GetSourceIDs());
    EXPECT_EQ(List({3}), g_Converters.GetTargetIDs(2));
    CFormatInfo info;
    ASSERT_TRUE(g_FormatsInfo.Lookup(3, &info));
    EXPECT_EQ("C", info.NameAnsi());
}

TEST_F(CatalogueConverters, ConcurrentCallersLoadOnce)
{
    inst.Converter("A2B", kA, kB).Install();
    LONG failures = 0;
    OnThreadsAtOnce(4, [&] {
        ComPtr<ITolviFileConverter> converter;
        if (FAILED(g_Converters.Load()) || FAILED(g_Converters.CreateConverter(1, 2, &converter)))
            ::InterlockedIncrement(&failures);
    });
    EXPECT_EQ(0, failures);
    EXPECT_EQ(Lines{"A2B.SourceFormat"}, inst.Journal(".SourceFormat"));
    EXPECT_EQ(5u, inst.Journal("A2B.Create").size());
}

TEST_F(CatalogueConverters, OfTwoConvertersForOnePairTheLaterOneIsUsed)
{
    inst.Converter("First", kA, kB).Converter("Second", kA, kB).Install();
    GUID clsid;
    ASSERT_EQ(S_OK, g_Converters.Load());
    ASSERT_TRUE(g_Converters.FindPair(1, 2, clsid));
    EXPECT_EQ(inst.ClsidOf("Second"), clsid);
    inst.ClearJournal();
    ComPtr<ITolviFileConverter> converter;
    ASSERT_EQ(S_OK, g_Converters.CreateConverter(1, 2, &converter));
    converter.Reset();
    EXPECT_EQ((Lines{"Second.Create", "Second.Destroy"}), inst.Journal());
}

TEST_F(CatalogueConverters, TheFirstConverterToReportAFormatNamesIt)
{
    inst.Converter("First", {1, "One", "one"}, kB).Converter("Second", {1, "Uno", "uno", "", true}, kC).Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    CFormatInfo info;
    ASSERT_TRUE(g_FormatsInfo.Lookup(1, &info));
    EXPECT_EQ("One", info.NameAnsi());
    EXPECT_FALSE(info.IsComplex);
    EXPECT_FALSE(g_FormatsInfo.FindByName("Uno", nullptr));
    EXPECT_EQ(List({3, 2}), g_Converters.GetTargetIDs(1));
}

TEST_F(CatalogueConverters, ConvertersThatCannotTellTheirPairAreSkipped)
{
    Behaviour noCreate, noSource, nullSource, noTarget;
    noCreate.createResult = E_OUTOFMEMORY;
    noSource.sourceFormatResult = E_FAIL;
    nullSource.nullSourceFormat = true;
    noTarget.targetFormatResult = E_ACCESSDENIED;
    inst.Converter("NoCreate", kA, kB, noCreate)
        .Converter("NoSource", kA, kC, noSource)
        .Converter("NullSource", kA, kD, nullSource)
        .Converter("NoTarget", {5, "E", "e"}, {6, "F", "f"}, noTarget)
        .Converter("Good", kB, kC)
        .Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    EXPECT_EQ(List({2}), g_Converters.GetSourceIDs());
    // What was read before the failure stays known.
    EXPECT_TRUE(g_FormatsInfo.Lookup(5, nullptr));
    EXPECT_FALSE(g_FormatsInfo.Lookup(6, nullptr));
    EXPECT_EQ(Lines{"NoTarget.TargetFormat"}, inst.Journal("NoTarget.TargetFormat"));
}

// --- names in the catalogue --------------------------------------------------

TEST_F(CatalogueConverters, AnEntryNamedByProgIdIsUsedUnderItsClass)
{
    Behaviour byProgId;
    byProgId.progId = "Vembro.TestA2B";
    inst.Converter("A2B", kA, kB, byProgId).Install();
    GUID clsid;
    ASSERT_EQ(S_OK, g_Converters.Load());
    ASSERT_TRUE(g_Converters.FindPair(1, 2, clsid));
    EXPECT_EQ(inst.ClsidOf("A2B"), clsid);
}

TEST_F(CatalogueConverters, AnUnregisteredProgIdIsResolvedThroughCurVer)
{
    Behaviour unlisted;
    unlisted.unlisted = true;
    inst.Converter("A2B", kA, kB, unlisted)
        .ProgId("Vembro.TestA2B.2", "A2B")
        .CurVer("Vembro.TestA2B", "Vembro.TestA2B.2")
        .CatalogueEntry("Vembro.TestA2B")
        .Install();
    GUID clsid;
    ASSERT_EQ(S_OK, g_Converters.Load());
    ASSERT_TRUE(g_Converters.FindPair(1, 2, clsid));
    EXPECT_EQ(inst.ClsidOf("A2B"), clsid);
}

TEST_F(CatalogueConverters, EntriesThatDoNotResolveOrCannotBeCreatedAreSkipped)
{
    Behaviour unlisted;
    unlisted.unlisted = true;
    const BYTE number[4] = {1, 0, 0, 0};
    inst.Converter("A2B", kA, kB, unlisted)
        .ProgId("Vembro.TestA2B.2", "A2B")
        .CurVer("Vembro.EmptyCurVer", "")
        .CurVerRaw("Vembro.NumberCurVer", REG_DWORD, std::vector<BYTE>(number, number + 4))
        .CatalogueEntry("Vembro.EmptyCurVer")
        .CatalogueEntry("Vembro.NumberCurVer")
        .CatalogueEntry("Vembro.NotRegistered")
        .CatalogueEntry("{not a clsid}")
        .CatalogueEntry("{FA4E9999-7E57-4FA4-8000-000000000000}") // resolves, no such class
        .Converter("B2C", kB, kC)
        .Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    EXPECT_EQ(List({2}), g_Converters.GetSourceIDs());
    EXPECT_TRUE(inst.Journal("A2B.").empty());
}

// --- a converter for a pair --------------------------------------------------

TEST_F(CatalogueConverters, CreateConverterReleasesWhatTheOutputHeld)
{
    inst.Converter("A2B", kA, kB).Converter("B2C", kB, kC).Install();
    ComPtr<ITolviFileConverter> converter;
    ASSERT_EQ(S_OK, g_Converters.CreateConverter(1, 2, &converter));
    inst.ClearJournal();
    ITolviFileConverter* held = converter.Detach();
    ASSERT_EQ(S_OK, g_Converters.CreateConverter(2, 3, &held));
    EXPECT_EQ((Lines{"A2B.Destroy", "B2C.Create"}), inst.Journal());
    inst.ClearJournal();
    EXPECT_EQ(E_INVALIDARG, g_Converters.CreateConverter(1, 3, &held));
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ((Lines{"B2C.Destroy"}), inst.Journal());
    EXPECT_EQ(E_POINTER, g_Converters.CreateConverter(1, 2, nullptr));
}

// --- detection ---------------------------------------------------------------

TEST_F(CatalogueConverters, ASourceIsListedWhenOneOfItsConvertersSaysSo)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Converter("C2B", kC, kB).Install();
    StringArg file(L"C:\\in.a");
    ASSERT_EQ(S_OK, Detect(g_Converters, file, FILEDATATYPE_FILENAME));
    EXPECT_EQ(List({1}), found);
    // Sources enumerate 3, 1.
    EXPECT_EQ((Lines{"C2B.IsFormatAvailableFile(file=C:\\in.a)", "A2B.IsFormatAvailableFile(file=C:\\in.a)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(CatalogueConverters, ConvertersOfASourceAreAskedUntilOneCanTell)
{
    // Targets of 1 enumerate 4, 3, 2 (later first in bucket 0).
    inst.Converter("A2B", kA, kB, Detects(S_OK))
        .Converter("A2C", kA, kC, Detects(E_NOTIMPL))
        .Converter("A2D", kA, kD, Detects(E_FAIL))
        .Install();
    StringArg text(L"hello");
    ASSERT_EQ(S_OK, Detect(g_Converters, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(List({1}), found);
    EXPECT_EQ((Lines{"A2D.IsFormatAvailableMemory(text=hello)", "A2C.IsFormatAvailableMemory(text=hello)",
                     "A2B.IsFormatAvailableMemory(text=hello)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(CatalogueConverters, AFirstNoEndsTheSourceEvenIfALaterConverterWouldSayYes)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Converter("A2C", kA, kC, Detects(S_FALSE)).Install();
    StringArg text(L"hello");
    ASSERT_EQ(S_OK, Detect(g_Converters, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ((Lines{"A2C.IsFormatAvailableMemory(text=hello)"}), inst.Journal(".IsFormat"));
}

TEST_F(CatalogueConverters, TheConverterFromASourceToItselfIsAskedFirst)
{
    // Without the rule the targets of 1 would enumerate 2, 1.
    inst.Converter("A2A", kA, kA, Detects(S_FALSE)).Converter("A2B", kA, kB, Detects(S_OK)).Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_Converters, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ((Lines{"A2A.IsFormatAvailableMemory(text=t)"}), inst.Journal(".IsFormat"));
}

TEST_F(CatalogueConverters, DetectedSourcesComeComplexFirst)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK))
        .Converter("B2C", kB, kC, Detects(S_OK))
        .Converter("D2A", kD, kA, Detects(S_OK))
        .Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_Converters, text, FILEDATATYPE_TEXT));
    // Sources enumerate 4, 2, 1; 4 is complex, the rest is reversed.
    EXPECT_EQ(List({4, 1, 2}), found);
}

TEST_F(CatalogueConverters, AStreamIsWhereItWasAfterEveryProbe)
{
    inst.Converter("A2B", kA, kB, Detects(E_FAIL)).Converter("A2C", kA, kC, Detects(E_FAIL)).Install();
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, stream->Write("abcdef", 6, nullptr));
    LARGE_INTEGER two;
    two.QuadPart = 2;
    ASSERT_EQ(S_OK, stream->Seek(two, STREAM_SEEK_SET, nullptr));
    ObjectArg data(stream.Get());
    ASSERT_EQ(S_OK, Detect(g_Converters, data, FILEDATATYPE_STREAM));
    // Each fake reads the stream to its end; each one still starts at 2.
    EXPECT_EQ((Lines{"A2C.IsFormatAvailableStream(stream=@2)", "A2B.IsFormatAvailableStream(stream=@2)"}),
              inst.Journal(".IsFormat"));
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_CUR, &position));
    EXPECT_EQ(2u, position.QuadPart);
}

TEST_F(CatalogueConverters, AnObjectWithoutIStreamCannotBeProbed)
{
    // Chosen behaviour: such an object makes every converter "unable to
    // tell", so nothing is listed and no converter is called with it.
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Install();
    TestFormat notAStream(1, L"x");
    ObjectArg data(&notAStream);
    ASSERT_EQ(S_OK, Detect(g_Converters, data, FILEDATATYPE_STREAM));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal(".IsFormat").empty());
}

TEST_F(CatalogueConverters, ByReferenceDataIsProbedAsItsValue)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Install();
    unique_bstr name = MakeBstr(L"C:\\by ref.a");
    BSTR ref = name.get();
    VARIANT data;
    ::VariantInit(&data);
    V_VT(&data) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&data) = &ref;
    ASSERT_EQ(S_OK, Detect(g_Converters, data, FILEDATATYPE_FILENAME));
    EXPECT_EQ(List({1}), found);
    EXPECT_EQ((Lines{"A2B.IsFormatAvailableFile(file=C:\\by ref.a)"}), inst.Journal(".IsFormat"));
}

TEST_F(CatalogueConverters, DataOfTheWrongKindIsRejectedBeforeAnyProbe)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Install();
    StringArg text(L"t");
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ObjectArg object(stream.Get());
    unique_variant number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 1;
    EXPECT_EQ(E_INVALIDARG, Detect(g_Converters, text, static_cast<tagFILEDATATYPE>(3)));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ(E_INVALIDARG, Detect(g_Converters, text, FILEDATATYPE_STREAM));
    EXPECT_EQ(E_INVALIDARG, Detect(g_Converters, object, FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_INVALIDARG, Detect(g_Converters, number, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal(".IsFormat").empty());
}

TEST_F(CatalogueConverters, NullStringsAndObjectsAreEPointer)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Install();
    StringArg nullText(nullptr);
    ObjectArg nullObject(nullptr);
    EXPECT_EQ(E_POINTER, Detect(g_Converters, nullText, FILEDATATYPE_FILENAME));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ(E_POINTER, Detect(g_Converters, nullText, FILEDATATYPE_TEXT));
    EXPECT_EQ(E_POINTER, Detect(g_Converters, nullObject, FILEDATATYPE_STREAM));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal(".IsFormat").empty());
}
