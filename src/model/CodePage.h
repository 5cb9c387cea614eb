// Texts inside image files (track logs and comment of the project file, the
// TD0 comment, the FDI description, TR-DOS names) are Windows-1251; in memory
// and on screen they are UTF-8. These two conversions are the only crossing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// Every Windows-1251 byte has a character except 0x98, which becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);
// Characters with no Windows-1251 code become "?".
std::string Utf8ToCp1251(std::string_view text);
// Appends the UTF-8 form of a character of the Basic Multilingual Plane (the
// only plane the disks' code pages reach).
void AppendUtf8(std::string& out, uint32_t cp);

}  // namespace kelvara
