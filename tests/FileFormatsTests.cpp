// Format collections and format objects over records placed in the store.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>

#include "catalogue/FormatsInfo.h"
#include "vembro/com/Module.h"
#include "manager/FileFormats.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;

namespace {

// Poison for out-parameters: a failing call must overwrite it with null.
template <class T>
T* Poison() { return reinterpret_cast<T*>(static_cast<uintptr_t>(0xBAADF00D)); }

CFormatInfo Info(short id, const wchar_t* name, const char* defaultExt, const char* exts, BOOL complex = FALSE)
{
    CFormatInfo info;
    info.ID = id;
    if (name)
        *info.Name.put() = ::SysAllocString(name);
    info.DefaultExtention = defaultExt;
    info.Extentions = exts;
    info.IsComplex = complex;
    return info;
}

CFormatIDs Ids(std::initializer_list<short> ids)
{
    CFormatIDs list;
    for (short id : ids)
        list.Add(id);
    return list;
}

ComPtr<ITolviFileFormats> Collection(std::initializer_list<short> ids)
{
    ComPtr<ITolviFileFormats> formats;
    EXPECT_EQ(S_OK, CreateFileFormats(Ids(ids), &formats));
    return formats;
}

std::wstring Text(HRESULT (STDMETHODCALLTYPE ITolviFileFormat::*get)(BSTR*), ITolviFileFormat* format)
{
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, (format->*get)(&text));
    std::wstring result = text ? text : L"<null>";
    ::SysFreeString(text);
    return result;
}

short IdOf(ITolviFileFormat* format)
{
    short id = 0;
    EXPECT_EQ(S_OK, format->get_ID(&id));
    return id;
}

short CountOf(ITolviFileFormats* formats)
{
    short count = -7;
    EXPECT_EQ(S_OK, formats->get_Count(&count));
    return count;
}

// The store is process-wide and each test case runs in a process of its
// own, so every fixture fills it afresh.
class FileFormats : public ::testing::Test {
protected:
    static void Store(const CFormatInfo& info)
    {
        ComPtr<ITolviFileFormat> reporter;
        ASSERT_EQ(S_OK, CreateFileFormat(info, &reporter));
        ASSERT_EQ(S_OK, g_FormatsInfo.Add(reporter.Get(), nullptr));
    }

    void SetUp() override
    {
        Store(Info(1, L"Plain Text", "txt", "txt.text"));
        Store(Info(2, L"Hypertext", "htm", "htm.html", TRUE));
        Store(Info(3, L"Rich Text", "rtf", "rtf"));
        Store(Info(4, L"Web Archive", "mht", "mht.html"));
    }

    void TearDown() override { EXPECT_EQ(0, ModuleLockCount()); }
};

TEST_F(FileFormats, CountIsTheNumberOfIdsDuplicatesIncluded)
{
    EXPECT_EQ(3, CountOf(Collection({1, 2, 1}).Get()));
    EXPECT_EQ(0, CountOf(Collection({}).Get()));
}

TEST_F(FileFormats, PositionsOutsideTheListAreInvalid)
{
    auto formats = Collection({1, 2});
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormat(-1, &format));
    EXPECT_EQ(nullptr, format);
    format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormat(2, &format));
    EXPECT_EQ(nullptr, format);
    format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_INVALIDARG, Collection({})->get_FileFormat(0, &format));
    EXPECT_EQ(nullptr, format);
}

TEST_F(FileFormats, FileFormatGivesTheRecordAtThatPosition)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, Collection({1, 2, 3})->get_FileFormat(1, &format));
    EXPECT_EQ(2, IdOf(format.Get()));
    EXPECT_EQ(L"Hypertext", Text(&ITolviFileFormat::get_Name, format.Get()));
    EXPECT_EQ(L"htm", Text(&ITolviFileFormat::get_DefaultExtention, format.Get()));
    EXPECT_EQ(L"htm.html", Text(&ITolviFileFormat::get_Extentions, format.Get()));
}

TEST_F(FileFormats, IdWithoutARecordIsUnexpected)
{
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_UNEXPECTED, Collection({1, 99})->get_FileFormat(1, &format));
    EXPECT_EQ(nullptr, format);
}

TEST_F(FileFormats, NullResultPointersArePointerErrors)
{
    auto formats = Collection({1, 2});
    unique_bstr name = MakeBstr(L"Plain Text");
    unique_bstr ext = MakeBstr(L"txt");
    EXPECT_EQ(E_POINTER, formats->get_Count(nullptr));
    EXPECT_EQ(E_POINTER, formats->get_FileFormat(0, nullptr));
    EXPECT_EQ(E_POINTER, formats->get_FileFormatFromID(1, nullptr));
    EXPECT_EQ(E_POINTER, formats->get_FileFormatFromName(name.get(), nullptr));
    EXPECT_EQ(E_POINTER, formats->get_FileFormatFromExt(ext.get(), nullptr));
    EXPECT_EQ(E_POINTER, CreateFileFormats(Ids({1}), nullptr));
    EXPECT_EQ(E_POINTER, CreateFileFormat(Info(1, L"x", "", ""), nullptr));
}

TEST_F(FileFormats, NullNameAndNullExtensionArePointerErrorsWithNullResults)
{
    auto formats = Collection({1, 2});
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_POINTER, formats->get_FileFormatFromName(nullptr, &format));
    EXPECT_EQ(nullptr, format);
    ITolviFileFormats* subset = Poison<ITolviFileFormats>();
    EXPECT_EQ(E_POINTER, formats->get_FileFormatFromExt(nullptr, &subset));
    EXPECT_EQ(nullptr, subset);
}

TEST_F(FileFormats, FromIdOfADuplicatedIdGivesThatFormat)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, Collection({2, 3, 1, 3})->get_FileFormatFromID(3, &format));
    EXPECT_EQ(3, IdOf(format.Get()));
    EXPECT_EQ(L"Rich Text", Text(&ITolviFileFormat::get_Name, format.Get()));
}

TEST_F(FileFormats, FromIdOfAnIdOutsideTheCollectionIsInvalid)
{
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_INVALIDARG, Collection({1, 2})->get_FileFormatFromID(3, &format));
    EXPECT_EQ(nullptr, format);
}

TEST_F(FileFormats, FromIdOfAnIdWithoutARecordIsUnexpected)
{
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    EXPECT_EQ(E_UNEXPECTED, Collection({1, 99})->get_FileFormatFromID(99, &format));
    EXPECT_EQ(nullptr, format);
}

TEST_F(FileFormats, FromNameIsCaseSensitive)
{
    auto formats = Collection({1, 2, 3});
    ComPtr<ITolviFileFormat> format;
    unique_bstr exact = MakeBstr(L"Rich Text");
    ASSERT_EQ(S_OK, formats->get_FileFormatFromName(exact.get(), &format));
    EXPECT_EQ(3, IdOf(format.Get()));

    ITolviFileFormat* wrong = Poison<ITolviFileFormat>();
    unique_bstr lower = MakeBstr(L"rich text");
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormatFromName(lower.get(), &wrong));
    EXPECT_EQ(nullptr, wrong);
}

TEST_F(FileFormats, FromNameOfAStoredFormatOutsideTheCollectionIsInvalid)
{
    ITolviFileFormat* format = Poison<ITolviFileFormat>();
    unique_bstr name = MakeBstr(L"Web Archive");
    EXPECT_EQ(E_INVALIDARG, Collection({1, 2})->get_FileFormatFromName(name.get(), &format));
    EXPECT_EQ(nullptr, format);
}

TEST_F(FileFormats, FromExtIgnoresCaseButNotADot)
{
    auto formats = Collection({1, 2, 3});
    ComPtr<ITolviFileFormats> subset;
    unique_bstr upper = MakeBstr(L"HTML");
    ASSERT_EQ(S_OK, formats->get_FileFormatFromExt(upper.get(), &subset));
    ASSERT_EQ(1, CountOf(subset.Get()));
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, subset->get_FileFormat(0, &format));
    EXPECT_EQ(2, IdOf(format.Get()));

    ComPtr<ITolviFileFormats> none;
    unique_bstr dotted = MakeBstr(L".html");
    ASSERT_EQ(S_OK, formats->get_FileFormatFromExt(dotted.get(), &none));
    EXPECT_EQ(0, CountOf(none.Get()));
}

TEST_F(FileFormats, FromExtKeepsCollectionOrder)
{
    // 4 and 2 both carry html, 3 does not: the first and the third match.
    auto formats = Collection({4, 3, 2});
    ComPtr<ITolviFileFormats> subset;
    unique_bstr ext = MakeBstr(L"html");
    ASSERT_EQ(S_OK, formats->get_FileFormatFromExt(ext.get(), &subset));
    ASSERT_EQ(2, CountOf(subset.Get()));
    ComPtr<ITolviFileFormat> first, second;
    ASSERT_EQ(S_OK, subset->get_FileFormat(0, &first));
    ASSERT_EQ(S_OK, subset->get_FileFormat(1, &second));
    EXPECT_EQ(4, IdOf(first.Get()));
    EXPECT_EQ(2, IdOf(second.Get()));
}

TEST_F(FileFormats, FromExtMatchesTheDefaultExtensionToo)
{
    CFormatInfo odd = Info(5, L"Odd", "odd", "xyz");
    Store(odd);
    ComPtr<ITolviFileFormats> subset;
    unique_bstr ext = MakeBstr(L"ODD");
    ASSERT_EQ(S_OK, Collection({1, 5})->get_FileFormatFromExt(ext.get(), &subset));
    EXPECT_EQ(1, CountOf(subset.Get()));
}

TEST_F(FileFormats, SubsetOutlivesItsParent)
{
    ComPtr<ITolviFileFormats> subset;
    {
        unique_bstr ext = MakeBstr(L"txt");
        ASSERT_EQ(S_OK, Collection({1, 2})->get_FileFormatFromExt(ext.get(), &subset));
    }
    EXPECT_EQ(1, ModuleLockCount());
    EXPECT_EQ(1, CountOf(subset.Get()));
}

TEST_F(FileFormats, IsComplexIsVariantTrueOrFalse)
{
    ComPtr<ITolviFileFormat> complex, simple;
    ASSERT_EQ(S_OK, CreateFileFormat(Info(7, L"C", "c", "c", 5), &complex));
    ASSERT_EQ(S_OK, CreateFileFormat(Info(8, L"S", "s", "s", FALSE), &simple));
    VARIANT_BOOL flag = 123;
    ASSERT_EQ(S_OK, complex->get_IsComplex(&flag));
    EXPECT_EQ(-1, flag);
    flag = 123;
    ASSERT_EQ(S_OK, simple->get_IsComplex(&flag));
    EXPECT_EQ(0, flag);
}

TEST_F(FileFormats, FormatWithoutANameAnswersOutOfMemory)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, CreateFileFormat(Info(9, nullptr, "n", "n"), &format));
    BSTR name = Poison<OLECHAR>();
    EXPECT_EQ(E_OUTOFMEMORY, format->get_Name(&name));
    EXPECT_EQ(nullptr, name);
}

TEST_F(FileFormats, EmptyExtensionTextsGiveEmptyStrings)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, CreateFileFormat(Info(10, L"", "", ""), &format));
    EXPECT_EQ(L"", Text(&ITolviFileFormat::get_Name, format.Get()));
    EXPECT_EQ(L"", Text(&ITolviFileFormat::get_DefaultExtention, format.Get()));
    EXPECT_EQ(L"", Text(&ITolviFileFormat::get_Extentions, format.Get()));
}

TEST_F(FileFormats, FormatPropertiesRefuseNullPointers)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, CreateFileFormat(Info(1, L"x", "x", "x"), &format));
    EXPECT_EQ(E_POINTER, format->get_Name(nullptr));
    EXPECT_EQ(E_POINTER, format->get_DefaultExtention(nullptr));
    EXPECT_EQ(E_POINTER, format->get_Extentions(nullptr));
    EXPECT_EQ(E_POINTER, format->get_ID(nullptr));
    EXPECT_EQ(E_POINTER, format->get_IsComplex(nullptr));
}

TEST_F(FileFormats, FormatObjectKeepsItsRecordAfterTheCollectionIsGone)
{
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, Collection({3})->get_FileFormat(0, &format));
    EXPECT_EQ(1, ModuleLockCount());
    EXPECT_EQ(L"Rich Text", Text(&ITolviFileFormat::get_Name, format.Get()));
    EXPECT_EQ(L"rtf", Text(&ITolviFileFormat::get_Extentions, format.Get()));
}

TEST_F(FileFormats, EveryCallMakesANewObject)
{
    auto formats = Collection({1});
    ComPtr<ITolviFileFormat> first, second;
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &first));
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &second));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(IdOf(first.Get()), IdOf(second.Get()));
    EXPECT_EQ(3, ModuleLockCount());
}

TEST_F(FileFormats, CollectionDoesNotFollowTheCallersList)
{
    CFormatIDs ids = Ids({1, 2});
    ComPtr<ITolviFileFormats> formats;
    ASSERT_EQ(S_OK, CreateFileFormats(ids, &formats));
    ids.Add(3);
    EXPECT_EQ(2, CountOf(formats.Get()));
}

TEST_F(FileFormats, EachLiveObjectHoldsOneModuleLock)
{
    ComPtr<ITolviFileFormats> formats = Collection({1});
    EXPECT_EQ(1, ModuleLockCount());
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &format));
    EXPECT_EQ(2, ModuleLockCount());
    formats.Reset();
    EXPECT_EQ(1, ModuleLockCount());
    format.Reset();
    EXPECT_EQ(0, ModuleLockCount());
}

TEST_F(FileFormats, InterfacesAnswered)
{
    auto formats = Collection({1});
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, formats.As(&dispatch));
    ComPtr<ITolviFileFormat> notAFormat;
    EXPECT_EQ(E_NOINTERFACE, formats.As(&notAFormat));
    EXPECT_EQ(nullptr, notAFormat.Get());

    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &format));
    ComPtr<IDispatch> formatDispatch;
    EXPECT_EQ(S_OK, format.As(&formatDispatch));
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(E_NOINTERFACE, format.As(&container));
}

} // namespace
