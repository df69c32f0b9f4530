#include "catalogue/ComponentPairs.h"

namespace vembro {

HRESULT CheckDetectionData_nothrow(const VARIANT& data, tagFILEDATATYPE type) noexcept
{
    switch (type) {
    case FILEDATATYPE_FILENAME:
    case FILEDATATYPE_TEXT:
        if (V_VT(&data) != VT_BSTR)
            return E_INVALIDARG;
        return V_BSTR(&data) ? S_OK : E_POINTER;
    case FILEDATATYPE_STREAM:
        if (V_VT(&data) != VT_UNKNOWN)
            return E_INVALIDARG;
        return V_UNKNOWN(&data) ? S_OK : E_POINTER;
    default:
        return E_INVALIDARG;
    }
}

} // namespace vembro
