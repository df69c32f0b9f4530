#pragma once
// Ground of the catalogue, planning and manager tests: a fixture over one fake installation that ends with no fake
// object alive and no module lock taken. Each test case runs in a process of its own, so the registries load from
// exactly the installation that the case declares.
#include "catalogue/FormatIDs.h"
#include "vembro/Vembro.h"
#include "support/ComChecks.h"
#include "support/Fakes.h"
#include "support/Variants.h"

#define VEMBRO_TEST_STUB(name, ...) \
    STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }
#define VEMBRO_TEST_STUBS_IDISPATCH                                                                        \
    VEMBRO_TEST_STUB(GetTypeInfoCount, UINT*) VEMBRO_TEST_STUB(GetTypeInfo, UINT, LCID, ITypeInfo**)      \
    VEMBRO_TEST_STUB(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)                                \
    VEMBRO_TEST_STUB(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)

namespace catalogue_test {

using Ids = std::vector<short>;
using Lines = std::vector<std::string>;

inline vembro::CFormatIDs List(const Ids& ids)
{
    vembro::CFormatIDs list;
    for (short id : ids)
        list.Add(id);
    return list;
}

// A VARIANT of type vt whose string, object or reference is null.
inline comtest::Var NullOf(VARTYPE vt)
{
    comtest::Var r;
    V_VT(&r) = vt;
    V_BYREF(&r) = nullptr;
    return r;
}

// A VARIANT of type VT_BYREF | vt that refers to target.
template <class T> comtest::Var ByRef(VARTYPE vt, T* target)
{
    comtest::Var r = NullOf(static_cast<VARTYPE>(VT_BYREF | vt));
    V_BYREF(&r) = target;
    return r;
}

class RegistryTest : public comtest::ComTest {
protected:
    using comtest::ComTest::ComTest;
    void TearDown() override
    {
        EXPECT_EQ(0, inst.LiveObjects());
        comtest::ComTest::TearDown();
    }
    // Poisons the output first, so that a result left over is caught.
    template <class Registry> HRESULT Detect(Registry& registry, const VARIANT& data, tagFILEDATATYPE type)
    {
        vembro::CFormatIDs out = List({77});
        const HRESULT hr = registry.GetAvailableFormats(data, type, out);
        found = out.Items();
        return hr;
    }
    // The names of the fakes probed since the last call, in order.
    Lines Probed()
    {
        Lines names;
        for (const std::string& line : inst.Journal(".IsFormat"))
            names.push_back(line.substr(0, line.find('.')));
        inst.ClearJournal();
        return names;
    }
    static fakes::Behaviour Detects(HRESULT answer) { return fakes::Behaviour{answer}; }

    fakes::Installation inst;
    Ids found;
};

} // namespace catalogue_test
