// Text lists (track logs, the disk comment) as image files carry them: every
// line in Windows-1251 followed by CR LF. In memory a list holds UTF-8 lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// Each line converted to Windows-1251 and followed by CR LF; "" for no lines.
std::string JoinCrLfLines(const std::vector<std::string>& lines);
// Windows-1251 text split into UTF-8 lines. CR LF, a lone CR and a lone LF all
// end a line; a break at the very end starts no further line, so the text of
// JoinCrLfLines gives its lines back.
std::vector<std::string> SplitTextLines(std::string_view text);

}  // namespace kelvara
