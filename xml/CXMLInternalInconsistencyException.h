#pragma once
// The one exception the document model raises when its own invariants do not hold: a wrapper
// without a node, a node whose document has no CXMLDocument, a node kind the model cannot wrap
// or print. The feeds catch it around every parse.

#include <cstdio>
#include <stdexcept>
#include <string>

class CXMLInternalInconsistencyException : public std::logic_error {
public:
    explicit CXMLInternalInconsistencyException(const std::string& description)
        : std::logic_error(description) {}

    std::string description() const { return what(); }

    // "TODO": the generic failure.
    static CXMLInternalInconsistencyException todo() {
        return CXMLInternalInconsistencyException("TODO");
    }

    // "TODO Unhandled type (%d).": a node kind that has no wrapper class.
    static CXMLInternalInconsistencyException unhandledType(int kind) {
        return withKind("TODO Unhandled type (%d).", kind);
    }

    // "TODO not implemented type (%d).": a node kind the markup printer does not write.
    static CXMLInternalInconsistencyException notImplementedType(int kind) {
        return withKind("TODO not implemented type (%d).", kind);
    }

private:
    static CXMLInternalInconsistencyException withKind(const char* format, int kind) {
        char text[64];
        std::snprintf(text, sizeof text, format, kind);
        return CXMLInternalInconsistencyException(text);
    }
};
