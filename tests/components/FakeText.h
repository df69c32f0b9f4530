#pragma once
// How the journal writes the arguments that the system passes: plain text
// for names, "@<position>" for streams, "VT_<type>:<value>" for VARIANTs.
#include <windows.h>
#include <oaidl.h>
#include <string>

namespace fakes {

// The text of a BSTR, or "<null>".
std::string TextOf(BSTR text);
// "@<position>" of a stream at this moment, "null", or "set" for an object
// that is not a stream.
std::string StreamText(IUnknown* unknown);
// "set" or "null": what the journal says of Direction.
std::string PointerText(const void* p);
// e.g. "VT_ERROR:80020004", "VT_I4:0", "VT_BSTR:PRIORITY", "VT_BYREF|VT_BSTR:x.a".
std::string VariantText(const VARIANT& v);
// A property name: a string bare, anything else as VariantText.
std::string NameText(const VARIANT& v);
std::string HexText(HRESULT hr);

} // namespace fakes
