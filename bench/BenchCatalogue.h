#pragma once
// The catalogue at scale, with the test suite's configurable fake components.

namespace bench {

// Installs 1,000 converters, 100 translators and 200 formats, then times, in
// fresh processes taking turns, the manager's load plus planning and the bare
// cost of the components; prints medians and spread.
int Catalogue(int rounds);
// One such process: prints the seconds it measured.
int CatalogueChild(bool load);
// Planning alone, from pair tables in memory, at several sizes.
void Planning(int rounds);

} // namespace bench
