#pragma once
// Percent escaping of a URL text, as UTF-8: characters that may not appear in a URL become
// %XX; reserved characters (";/?:@&=+$,#") and unreserved ones stay; an existing valid %XX
// sequence is kept as it is, so an address that is already escaped comes out unchanged.

#include <string>

namespace platform {

std::string addPercentEscapes(const std::string& text);

}  // namespace platform
