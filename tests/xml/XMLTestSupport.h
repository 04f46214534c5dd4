#pragma once
// Shared pieces of the XML model tests: a capture of libxml2's diagnostics (so that the XML
// parser's default reports are checked instead of printed into the test output) and a parse
// helper.

#include <gtest/gtest.h>

#include "xml/CXMLDocument.h"

#include <libxml/xmlerror.h>

#include <memory>
#include <string>
#include <vector>

namespace xmltest {

// While alive, every libxml2 diagnostic raised on this thread is recorded instead of printed.
// libxml2 keeps the handler per thread; the previous one is restored on destruction.
class LibXMLDiagnostics {
public:
    LibXMLDiagnostics()
        : savedHandler_(xmlStructuredError), savedContext_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(this, &LibXMLDiagnostics::record);
    }
    ~LibXMLDiagnostics() { xmlSetStructuredErrorFunc(savedContext_, savedHandler_); }
    LibXMLDiagnostics(const LibXMLDiagnostics&) = delete;
    LibXMLDiagnostics& operator=(const LibXMLDiagnostics&) = delete;

    const std::vector<std::string>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

private:
    static void record(void* self, xmlError* error) {
        static_cast<LibXMLDiagnostics*>(self)->messages_.push_back(
            error && error->message ? error->message : "");
    }

    xmlStructuredErrorFunc savedHandler_;
    void* savedContext_;
    std::vector<std::string> messages_;
};

class XMLModelTest : public testing::Test {
protected:
    void SetUp() override { initXMLParser(); }

    // Parses well-formed test XML; fails the test when it does not parse.
    std::unique_ptr<CXMLDocument> parse(const std::string& xml) {
        std::optional<CXMLError> error;
        auto document = CXMLDocument::initWithData(xml, 0, &error);
        EXPECT_TRUE(document) << "does not parse: " << xml;
        return document;
    }

    LibXMLDiagnostics diagnostics;
};

}  // namespace xmltest
