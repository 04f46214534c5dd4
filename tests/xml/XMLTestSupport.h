#pragma once
// Shared pieces of the XML model tests: a capture of libxml2's diagnostics (so that the XML
// parser's default reports are checked instead of printed into the test output) and a parse
// helper.

#include <gtest/gtest.h>

#include "xml/CXMLDocument.h"

#include <libxml/xmlerror.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace xmltest {

// While alive, every libxml2 diagnostic raised on this thread is recorded instead of printed:
// the structured reports, and the plain ones some parts of libxml2 (XPath) write directly.
// libxml2 keeps both handlers per thread; the previous ones are restored on destruction.
class LibXMLDiagnostics {
public:
    LibXMLDiagnostics()
        : savedHandler_(xmlStructuredError),
          savedContext_(xmlStructuredErrorContext),
          savedGeneric_(xmlGenericError),
          savedGenericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(this, &LibXMLDiagnostics::record);
        xmlSetGenericErrorFunc(this, &LibXMLDiagnostics::recordGeneric);
    }
    ~LibXMLDiagnostics() {
        xmlSetGenericErrorFunc(savedGenericContext_, savedGeneric_);
        xmlSetStructuredErrorFunc(savedContext_, savedHandler_);
    }
    LibXMLDiagnostics(const LibXMLDiagnostics&) = delete;
    LibXMLDiagnostics& operator=(const LibXMLDiagnostics&) = delete;

    const std::vector<std::string>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

private:
    static void record(void* self, xmlError* error) {
        static_cast<LibXMLDiagnostics*>(self)->messages_.push_back(
            error && error->message ? error->message : "");
    }

    static void recordGeneric(void* self, const char* format, ...) {
        char message[512];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(message, sizeof message, format, arguments);
        va_end(arguments);
        static_cast<LibXMLDiagnostics*>(self)->messages_.push_back(message);
    }

    xmlStructuredErrorFunc savedHandler_;
    void* savedContext_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
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
