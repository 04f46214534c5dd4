#pragma once
// Pieces of a URL's path, read from the text alone (no network, no validation).

#include <string>

namespace platform {

// The text after the last dot of the path's last component, percent escapes decoded, query
// and fragment left out: "mp3" for "http://host/a/b%2Emp3?x=1". Empty when there is none, and
// for a URL without a path (the host's name is not a file name).
std::string pathExtensionOfURL(const std::string& url);

// The path's last component as written, without query, fragment or trailing slashes:
// "b.mp3" for "http://host/a/b.mp3?x=1/". A URL with no path at all gives its host.
std::string lastPathComponentOfURL(const std::string& url);

}  // namespace platform
