#pragma once
// The error value the document model hands back through its optional out-parameters.

#include <map>
#include <optional>
#include <string>

// Domain of the model's own parse failure; its code is always 1.
inline constexpr const char* kCXMLErrorDomain = "CXMLErrorDomain";
inline constexpr long kCXMLErrorParseFailed = 1;

// Domain of a failed whole-resource load behind CXMLDocument::initWithContentsOfURL.
inline constexpr const char* kCXMLURLLoadErrorDomain = "URLLoaderErrorDomain";

struct CXMLError {
    std::string domain;
    long code = 0;
    // Empty for the model's own parse error; a failed load carries the loader's reason under
    // "description".
    std::map<std::string, std::string> userInfo;

    bool operator==(const CXMLError&) const = default;
};

// An optional out-parameter: callers pass nullptr when they do not want the error. Operations
// that "set it to absent" store std::nullopt.
using CXMLErrorOut = std::optional<CXMLError>*;
