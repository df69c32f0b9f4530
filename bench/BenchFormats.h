#pragma once
// Formats and classes of the pass-through components. The IDs are far from
// anything the samples or tests use, so a benchmark installation can live
// beside them.
#include <windows.h>

namespace bench {

constexpr short kFmtA = 901, kFmtB = 902, kFmtC = 903, kFmtD = 904;
// The chatty chain for the event relay figure: a converter that reports many
// small progress steps, then a pass-through translator.
constexpr short kFmtChatty = 911, kFmtChattyOut = 912, kFmtChattyEnd = 913;
constexpr long kChattyEvents = 20000;

// {5B1E0001-6A2D-4F10-9C61-3E52B0C0A901} and following.
constexpr CLSID kClsidConvAB = {0x5b1e0001, 0x6a2d, 0x4f10, {0x9c, 0x61, 0x3e, 0x52, 0xb0, 0xc0, 0xa9, 0x01}};
constexpr CLSID kClsidTransBC = {0x5b1e0002, 0x6a2d, 0x4f10, {0x9c, 0x61, 0x3e, 0x52, 0xb0, 0xc0, 0xa9, 0x01}};
constexpr CLSID kClsidConvCD = {0x5b1e0003, 0x6a2d, 0x4f10, {0x9c, 0x61, 0x3e, 0x52, 0xb0, 0xc0, 0xa9, 0x01}};
constexpr CLSID kClsidChatty = {0x5b1e0004, 0x6a2d, 0x4f10, {0x9c, 0x61, 0x3e, 0x52, 0xb0, 0xc0, 0xa9, 0x01}};
constexpr CLSID kClsidChattyTrans = {0x5b1e0005, 0x6a2d, 0x4f10, {0x9c, 0x61, 0x3e, 0x52, 0xb0, 0xc0, 0xa9, 0x01}};

} // namespace bench
