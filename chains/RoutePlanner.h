#pragma once
// The route rules over plain pair tables. g_Translators plans the process's
// routes with these functions from g_Converters and g_RealTranslators; any
// other pair of tables (built in memory) is planned exactly the same way.
#include <windows.h>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatPairs.h"
#include "chains/Chain.h"

namespace vembro {

// A real translator for the pair, or else a planned chain.
BOOL HasPlannedRoute(const CFormatPairs& translators, const CPairChains& chains, short src, short tgt);
// The translators' sources, then every chain source not yet among them.
void GetRouteSourceIDs(const CFormatPairs& translators, const CPairChains& chains, CFormatIDs& out);
// The translators' targets of src, then the chain targets not yet among
// them, with src itself moved to the front.
void GetRouteTargetIDs(const CFormatPairs& translators, const CPairChains& chains, short src, CFormatIDs& out);
// Plans every chain of the shapes C-T, T-C and C-T-C into `chains`. The first
// candidate found for a pair wins; the loops run over every list in its
// enumeration order. Failures to store a chain are ignored; std::bad_alloc
// from the lists passes to the caller.
void PlanRoutes(const CFormatPairs& converters, const CFormatPairs& translators, CPairChains& chains);

} // namespace vembro
