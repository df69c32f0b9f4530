#pragma once
// A translation memory read from a TMX 1.4b file and indexed once: a hash
// of the exact keys and an inverted index from words to units, so that a
// lookup costs about the units that share its rarer words, not the size of
// the memory.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "l10n/Segment.h"

namespace samples {

struct MemoryUnit {
    Segment source, target;
    std::vector<std::wstring> tokens;
};

struct Match {
    const MemoryUnit* unit = nullptr;
    int quality = 0; // percent
    bool exact = false;
};

class TranslationMemory {
public:
    // Reads the units of `path` that have both languages. An empty source
    // language takes the header's srclang. Failures: L10N_E_MEMORY_UNREADABLE,
    // L10N_E_NO_LANGUAGE, L10N_E_LANGUAGE_NOT_IN_MEMORY.
    TranslationMemory(const std::wstring& path, const std::wstring& sourceLanguage, const std::wstring& targetLanguage);

    // The best unit at or above `threshold` percent, exact matches first.
    bool Find(const Segment& source, int threshold, Match& match) const;
    size_t Size() const noexcept { return m_units.size(); }
    const std::wstring& SourceLanguage() const noexcept { return m_sourceLanguage; }

private:
    void Load(const std::wstring& path, const std::wstring& targetLanguage);
    void Add(Segment source, Segment target);

    std::wstring m_sourceLanguage;
    std::vector<MemoryUnit> m_units;
    std::unordered_map<std::wstring, uint32_t> m_exact;
    std::unordered_map<std::wstring, std::vector<uint32_t>> m_postings;
};

// BCP 47 tags match when equal without regard to case, or when one is the
// other followed by more subtags ("fr" and "fr-CA").
bool LanguageMatches(const std::wstring& wanted, const std::wstring& have);
// 100 * (1 - edit distance / longer length) over tokens, rounded down.
int Similarity(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b);
// The memory's target as the unit's content: its tags become the unit's own
// inline elements, paired by their place in the memory's source. False
// when they do not fit (more tags than the unit has, or crossed pairs).
bool Transfer(const Segment& unitSource, const Segment& memorySource, const Segment& memoryTarget, Segment& out);

} // namespace samples
