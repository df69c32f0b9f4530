#pragma once
// Where installed components are listed. Converters: one subkey of this key
// under HKEY_LOCAL_MACHINE per converter, named by its ProgID or braced
// CLSID. Translators: the component category whose CATID is
// IID_ITolviFileTranslator2.
#define VEMBRO_CONVERTER_CATALOGUE "Software\\Tolvi Labs\\Devevi9\\FTM\\Converters"

namespace vembro {

constexpr wchar_t kConverterCatalogue[] = L"" VEMBRO_CONVERTER_CATALOGUE;

} // namespace vembro
