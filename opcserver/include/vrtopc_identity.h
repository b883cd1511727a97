// The name every client finds VRTOPC by: its version-independent ProgID,
// written once here for the server's registration and for the suite's own
// clients (the tools and the tests).
#pragma once

#define VRTOPC_PROGID "Kalvento.Tavex"

inline constexpr char kVrtOpcProgId[] = VRTOPC_PROGID;
inline constexpr wchar_t kVrtOpcProgIdWide[] = L"" VRTOPC_PROGID;
