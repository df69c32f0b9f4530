#pragma once
// The format-keyed table. Its enumeration order is part of the product:
// every client-visible list and every tie between routes follows it.
//   17 buckets, allocated on the first insertion, never resized;
//   hash = (unsigned)(int)id >> 4, bucket = hash % 17;
//   a new key goes to the head of its bucket's chain;
//   an existing key keeps its position and has its value replaced;
//   enumeration: buckets 0..16, each chain from its head.
#include <windows.h>
#include <memory>
#include <utility>

namespace vembro {

template <class V>
class CFormatMap {
public:
    CFormatMap() = default;
    CFormatMap(const CFormatMap&) = delete;
    CFormatMap& operator=(const CFormatMap&) = delete;
    ~CFormatMap() { RemoveAll(); }

    static UINT HashKey(short id) noexcept { return static_cast<UINT>(static_cast<INT>(id)) >> 4; }

    V* Lookup(short id) noexcept;
    const V* Lookup(short id) const noexcept { return const_cast<CFormatMap*>(this)->Lookup(id); }
    // Inserts or replaces; returns the stored value. Throws std::bad_alloc.
    template <class U>
    V& SetAt(short id, U&& value);
    bool IsEmpty() const noexcept { return m_nCount == 0; }
    int GetCount() const noexcept { return m_nCount; }
    void RemoveAll() noexcept;

    // f(short key, V& value) for every entry, in enumeration order.
    template <class F>
    void ForEach(F&& f) const;

private:
    static constexpr UINT kBuckets = 17;
    struct Entry {
        Entry* pNext;
        UINT nHash;
        short key;
        V value;
    };
    std::unique_ptr<Entry*[]> m_pBuckets;
    int m_nCount = 0;
};

template <class V>
V* CFormatMap<V>::Lookup(short id) noexcept
{
    if (!m_pBuckets)
        return nullptr;
    UINT hash = HashKey(id);
    for (Entry* e = m_pBuckets[hash % kBuckets]; e; e = e->pNext)
        if (e->nHash == hash && e->key == id)
            return &e->value;
    return nullptr;
}

template <class V>
template <class U>
V& CFormatMap<V>::SetAt(short id, U&& value)
{
    if (V* existing = Lookup(id)) {
        *existing = std::forward<U>(value);
        return *existing;
    }
    if (!m_pBuckets) {
        m_pBuckets.reset(new Entry*[kBuckets]);
        for (UINT i = 0; i < kBuckets; ++i)
            m_pBuckets[i] = nullptr;
    }
    UINT hash = HashKey(id);
    Entry*& head = m_pBuckets[hash % kBuckets];
    head = new Entry{head, hash, id, V(std::forward<U>(value))};
    ++m_nCount;
    return head->value;
}

template <class V>
void CFormatMap<V>::RemoveAll() noexcept
{
    if (!m_pBuckets)
        return;
    for (UINT i = 0; i < kBuckets; ++i) {
        for (Entry* e = m_pBuckets[i]; e;) {
            Entry* next = e->pNext;
            delete e;
            e = next;
        }
    }
    m_pBuckets.reset();
    m_nCount = 0;
}

template <class V>
template <class F>
void CFormatMap<V>::ForEach(F&& f) const
{
    if (!m_pBuckets)
        return;
    for (UINT i = 0; i < kBuckets; ++i)
        for (Entry* e = m_pBuckets[i]; e; e = e->pNext)
            f(e->key, e->value);
}

} // namespace vembro
