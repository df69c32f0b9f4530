// Shout.cpp: upper-cases ASCII text. The component of the README, built
// against the installed kit (see CMakeLists.txt beside it).
#include <algorithm>
#include <cctype>
#include "vembro/kit/Converter.h"
#include "vembro/kit/Data.h"
#include "vembro/kit/Module.h"

// {0E9B5D2C-7A41-4B8E-9C3D-2F6A1B7C8D90}
const CLSID CLSID_Shout = {0x0e9b5d2c, 0x7a41, 0x4b8e, {0x9c, 0x3d, 0x2f, 0x6a, 0x1b, 0x7c, 0x8d, 0x90}};

class CShout : public vembro::kit::Converter<CShout> {
public:
    static constexpr vembro::kit::FormatSpec kSource{201, L"Quiet Text", L"txt", L"txt", false};
    static constexpr vembro::kit::FormatSpec kTarget{202, L"Loud Text", L"txt", L"txt", false};

    // S_OK: the data is in kSource; S_FALSE: it is not; anything else: cannot tell.
    static HRESULT Detect(const std::string& head)
    {
        return vembro::kit::IsValidUtf8(head, true) && head.find('\0') == std::string::npos ? S_OK : S_FALSE;
    }

    // Runs on the worker thread (ConvertFile, ConvertStream) or in the
    // caller's thread (SyncConvert*, ConvertMemory). Throw to fail; Stop
    // arrives as an exception out of progress.Report/Checkpoint.
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
    {
        vembro::kit::TransformDocument(in, out, progress, [](std::string text) {
            std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
            return text;
        });
    }
};

VEMBRO_KIT_CLASSES(vembro::kit::ConverterClass<CShout>(CLSID_Shout, L"Acme.Shout", L"Quiet to loud text"))
