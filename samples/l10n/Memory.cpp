#include "l10n/Memory.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "vembro/com/Error.h"
#include "l10n/Errors.h"
#include "vembro/kit/Data.h"

namespace samples {
namespace {

const std::wstring* LanguageOf(const xml::Node& tuv)
{
    for (const auto& a : tuv.attributes)
        if (a.local == L"lang" && (a.prefix == L"xml" || a.prefix.empty()))
            return &a.value;
    return nullptr;
}

} // namespace

bool LanguageMatches(const std::wstring& wanted, const std::wstring& have)
{
    size_t n = std::min(wanted.size(), have.size());
    if (n == 0 || _wcsnicmp(wanted.c_str(), have.c_str(), n) != 0)
        return false;
    return wanted.size() == have.size() || (wanted.size() > n ? wanted[n] : have[n]) == L'-';
}

int Similarity(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b)
{
    size_t longer = std::max(a.size(), b.size());
    if (longer == 0)
        return 100;
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return static_cast<int>(100 * (longer - row[b.size()]) / longer);
}

bool Transfer(const Segment& unitSource, const Segment& memorySource, const Segment& memoryTarget, Segment& out)
{
    std::vector<const Piece*> opens, empties;
    for (const Piece& p : unitSource) {
        if (p.kind == Piece::Open)
            opens.push_back(&p);
        else if (p.kind == Piece::Empty)
            empties.push_back(&p);
    }
    auto closeOf = [&](const Piece* open) -> const Piece* {
        for (const Piece& p : unitSource)
            if (p.kind == Piece::Close && p.pair == open->pair)
                return &p;
        return nullptr;
    };
    std::map<int, size_t> ordinal; // memory source pair -> place among its opening tags
    for (const Piece& p : memorySource)
        if (p.kind == Piece::Open)
            ordinal.emplace(p.pair, ordinal.size());
    Segment result;
    std::vector<size_t> open;
    size_t nextEmpty = 0;
    for (const Piece& p : memoryTarget) {
        if (p.kind == Piece::Text) {
            result.push_back(p);
            continue;
        }
        if (p.kind == Piece::Empty) {
            if (nextEmpty >= empties.size())
                return false;
            result.push_back(*empties[nextEmpty++]);
            continue;
        }
        auto found = ordinal.find(p.pair);
        if (found == ordinal.end() || found->second >= opens.size())
            return false;
        size_t j = found->second;
        if (p.kind == Piece::Open) {
            result.push_back(*opens[j]);
            open.push_back(j);
            continue;
        }
        const Piece* close = closeOf(opens[j]);
        if (open.empty() || open.back() != j || !close)
            return false;
        open.pop_back();
        result.push_back(*close);
    }
    if (!open.empty())
        return false;
    out = std::move(result);
    return true;
}

TranslationMemory::TranslationMemory(const std::wstring& path, const std::wstring& sourceLanguage,
                                     const std::wstring& targetLanguage)
    : m_sourceLanguage(sourceLanguage)
{
    try {
        Load(path, targetLanguage);
    } catch (const vembro::ComError& e) {
        HRESULT hr = e.Code();
        if (hr == L10N_E_NO_LANGUAGE || hr == L10N_E_LANGUAGE_NOT_IN_MEMORY || hr == E_OUTOFMEMORY || hr == E_ABORT)
            throw;
        vembro::ThrowHr(L10N_E_MEMORY_UNREADABLE);
    }
    if (m_units.empty())
        vembro::ThrowHr(L10N_E_LANGUAGE_NOT_IN_MEMORY);
}

void TranslationMemory::Load(const std::wstring& path, const std::wstring& targetLanguage)
{
    auto file = vembro::kit::OpenInputFile(path.c_str());
    xml::Reader reader(file.Get());
    XmlNodeType type;
    bool root = true;
    while (reader.Next(type)) {
        if (type != XmlNodeType_Element)
            continue;
        xml::Node node = xml::Current(reader.Get());
        if (root && node.local != L"tmx")
            vembro::ThrowHr(L10N_E_MEMORY_UNREADABLE);
        root = false;
        if (node.local == L"header" && m_sourceLanguage.empty()) {
            const std::wstring* srclang = node.Find(L"srclang");
            if (srclang && _wcsicmp(srclang->c_str(), L"*all*") != 0)
                m_sourceLanguage = *srclang;
        } else if (node.local == L"tu") {
            if (m_sourceLanguage.empty() || targetLanguage.empty())
                vembro::ThrowHr(L10N_E_NO_LANGUAGE);
            xml::Nodes nodes = xml::Capture(reader);
            const Segment* source = nullptr;
            const Segment* target = nullptr;
            std::vector<Segment> segments;
            segments.reserve(nodes.size());
            for (size_t i = 1; i + 1 < nodes.size(); i = xml::EndOf(nodes, i) + 1) {
                const std::wstring* lang = LanguageOf(nodes[i]);
                if (nodes[i].type != XmlNodeType_Element || nodes[i].local != L"tuv" || !lang)
                    continue;
                for (size_t k = i + 1; k < xml::EndOf(nodes, i); k = xml::EndOf(nodes, k) + 1)
                    if (nodes[k].type == XmlNodeType_Element && nodes[k].local == L"seg") {
                        segments.push_back(SegmentOf(nodes, k));
                        if (!source && LanguageMatches(m_sourceLanguage, *lang))
                            source = &segments.back();
                        else if (!target && LanguageMatches(targetLanguage, *lang))
                            target = &segments.back();
                    }
            }
            if (source && target && HasText(*source))
                Add(*source, *target);
        }
    }
}

void TranslationMemory::Add(Segment source, Segment target)
{
    std::wstring key = KeyOf(source);
    auto index = static_cast<uint32_t>(m_units.size());
    if (!m_exact.emplace(key, index).second)
        return; // the first translation of a sentence wins
    MemoryUnit unit{std::move(source), std::move(target), TokensOf(key)};
    std::unordered_set<std::wstring> seen;
    for (const auto& token : unit.tokens)
        if (seen.insert(token).second)
            m_postings[token].push_back(index);
    m_units.push_back(std::move(unit));
}

bool TranslationMemory::Find(const Segment& source, int threshold, Match& match) const
{
    std::wstring key = KeyOf(source);
    if (key.empty())
        return false;
    auto exact = m_exact.find(key);
    if (exact != m_exact.end()) {
        match = {&m_units[exact->second], 100, true};
        return true;
    }
    // A unit within the threshold differs from the sentence by at most
    // dMax = n * (100 - threshold) / threshold token edits, and each edit
    // loses at most one of the sentence's distinct tokens; so it shares one
    // of the dMax + 1 rarest of them. Only their postings are read, and of
    // those only the rare ones once candidates exist: words that most units
    // have add cost and no discrimination.
    std::vector<std::wstring> tokens = TokensOf(key);
    static const std::vector<uint32_t> none;
    std::vector<const std::vector<uint32_t>*> lists;
    std::unordered_set<std::wstring> seen;
    for (const auto& token : tokens) {
        if (!seen.insert(token).second)
            continue;
        auto found = m_postings.find(token);
        lists.push_back(found == m_postings.end() ? &none : &found->second);
    }
    std::sort(lists.begin(), lists.end(), [](auto* a, auto* b) { return a->size() < b->size(); });
    size_t prefix = tokens.size() * static_cast<size_t>(100 - threshold) / static_cast<size_t>(threshold) + 1;
    lists.resize(std::min(lists.size(), prefix));
    const size_t common = std::max<size_t>(2000, m_units.size() / 20);
    std::unordered_map<uint32_t, int> shared;
    for (const auto* list : lists) {
        if (list->size() > common && !shared.empty())
            break;
        for (uint32_t index : *list)
            ++shared[index];
    }
    std::vector<std::pair<int, uint32_t>> candidates;
    for (const auto& [index, count] : shared) {
        size_t n = tokens.size(), m = m_units[index].tokens.size();
        // The length difference alone bounds the similarity.
        if (100 * std::min(n, m) >= static_cast<size_t>(threshold) * std::max(n, m))
            candidates.emplace_back(-count, index);
    }
    const size_t kChecked = 32;
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<long>(std::min(kChecked, candidates.size())),
                      candidates.end());
    Match best;
    for (size_t i = 0; i < std::min(kChecked, candidates.size()); ++i) {
        const MemoryUnit& unit = m_units[candidates[i].second];
        int quality = Similarity(tokens, unit.tokens);
        if (quality > best.quality || (quality == best.quality && best.unit && &unit < best.unit))
            best = {&unit, quality, false};
    }
    if (!best.unit || best.quality < threshold)
        return false;
    match = best;
    return true;
}

} // namespace samples
