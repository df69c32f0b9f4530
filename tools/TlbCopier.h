#pragma once
// Copies a type library into a new file through ICreateTypeLib2, placing its
// types in the published index order of Vembro.DLL's library. Types are all
// created first, then filled base first, since an entry may derive from one
// that comes after it.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <deque>
#include <vector>

namespace vembro::tools {

class TlbCopier {
public:
    explicit TlbCopier(SYSKIND syskind) noexcept;

    HRESULT Copy_nothrow(const wchar_t* source, const wchar_t* target) noexcept;
    // Loads the written library back and checks order, kinds, the target
    // system and every virtual-table offset.
    HRESULT Verify_nothrow(const wchar_t* target) noexcept;
    // What was being done when the last failure happened.
    const char* LastStep() const noexcept { return m_step; }

private:
    enum class FillState { Empty, Filling, Done };

    void Copy(const wchar_t* source, const wchar_t* target);
    void Verify(const wchar_t* target);
    void LoadSource(const wchar_t* source);
    void CreateTarget(const wchar_t* target);
    void Fill(std::size_t index);
    void FillEnum(std::size_t index);
    void FillInterface(std::size_t index);
    void FillCoclass(std::size_t index);
    void CopyFunction(std::size_t index, UINT func, UINT slot);

    // Published index of a type of the source library, or npos for a type
    // that lives elsewhere (IDispatch in stdole2).
    std::size_t PublishedIndexOf(ITypeInfo* info);
    // The type that a copied reference must point at: the new type for one
    // of the library's own types, the imported type itself otherwise.
    Microsoft::WRL::ComPtr<ITypeInfo> TargetFor(ITypeInfo* sourceType);
    HREFTYPE MapRef(ITypeInfo* owner, HREFTYPE ref, ICreateTypeInfo2* target);
    TYPEDESC CopyTypeDesc(const TYPEDESC& in, ITypeInfo* owner, ICreateTypeInfo2* target,
                          std::deque<TYPEDESC>& arena);

    void Step(const char* step) noexcept { m_step = step; }

    SYSKIND m_syskind;
    UINT m_ptrSize;
    Microsoft::WRL::ComPtr<ITypeLib> m_source;
    GUID m_sourceGuid{};
    Microsoft::WRL::ComPtr<ICreateTypeLib2> m_target;
    // By published index; for a dual interface the interface half, which
    // carries the virtual table.
    std::vector<Microsoft::WRL::ComPtr<ITypeInfo>> m_sourceTypes;
    std::vector<Microsoft::WRL::ComPtr<ICreateTypeInfo2>> m_targetTypes;
    std::vector<FillState> m_state;
    std::vector<UINT> m_slots; // virtual-table slots of each filled interface
    const char* m_step = "start";
};

} // namespace vembro::tools
