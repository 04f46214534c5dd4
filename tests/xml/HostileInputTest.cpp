// Documents a hostile server could send: entity bombs, external resources, deep nesting and
// pathological text. libxml2's allocations are metered to show what each one costs.

#include "tests/support/TestHttpServer.h"
#include "tests/xml/LibXMLMemoryMeter.h"
#include "tests/xml/XMLTestSupport.h"

#include "platform/http/URLLoader.h"
#include "xml/EntityExpansionGuard.h"

#include <fstream>

using testsupport::Response;
using testsupport::TestHttpServer;
using xmltest::LibXMLMemoryMeter;
using xmltest::XMLModelTest;

namespace {

// libxml2 must be metered from its very first allocation.
const bool gMeterInstalled = (LibXMLMemoryMeter::install(), true);

constexpr std::size_t kMiB = 1024 * 1024;
// What a hostile document may make libxml2 hold at most, tree included: far below the
// hundreds of megabytes an expansion would take.
constexpr std::size_t kMemoryBound = 64 * kMiB;

const CXMLError kParseError{"CXMLErrorDomain", 1, {}};

// The most libxml2 held during `call` beyond what it held before; recorded as a test property
// so that the figures show in the XML test report.
template <typename Call>
std::size_t peakGrowthOf(const char* label, Call call) {
    const std::size_t before = LibXMLMemoryMeter::current();
    LibXMLMemoryMeter::resetPeak();
    call();
    const std::size_t growth = LibXMLMemoryMeter::peak() - before;
    testing::Test::RecordProperty(label, std::to_string(growth));
    return growth;
}

std::string billionLaughs() {
    std::string xml = "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol0 'lol'>";
    for (int level = 1; level <= 9; ++level) {
        xml += "<!ENTITY lol" + std::to_string(level) + " '";
        for (int i = 0; i < 10; ++i) xml += "&lol" + std::to_string(level - 1) + ";";
        xml += "'>";
    }
    return xml + "]><lolz>&lol9;</lolz>";
}

// One entity of `entityBytes` referenced `references` times, in content or in an attribute.
std::string quadraticBlowup(std::size_t entityBytes, std::size_t references, bool inAttribute) {
    std::string xml = "<!DOCTYPE r [<!ENTITY e '" + std::string(entityBytes, 'a') + "'>]>";
    std::string refs;
    for (std::size_t i = 0; i < references; ++i) refs += "&e;";
    return xml + (inAttribute ? "<r v='" + refs + "'/>" : "<r>" + refs + "</r>");
}

class HostileInputTest : public XMLModelTest {
protected:
    // Parses through both XML entry points; both must agree.
    std::unique_ptr<CXMLDocument> parseBothWays(const std::string& xml,
                                                std::optional<CXMLError>* error) {
        std::optional<CXMLError> stringError;
        auto fromString = CXMLDocument::initWithXMLString(xml, 0, &stringError);
        auto fromData = CXMLDocument::initWithData(xml, 0, error);
        EXPECT_EQ(fromString != nullptr, fromData != nullptr);
        EXPECT_EQ(stringError, fromData ? std::nullopt : *error);
        return fromData;
    }
};

}  // namespace

// The exponential entity bomb is refused while parsing, and the attempt stays small.
TEST_F(HostileInputTest, BillionLaughsIsRefused) {
    ASSERT_TRUE(gMeterInstalled);
    std::optional<CXMLError> error;
    const std::size_t growth = peakGrowthOf("billion_laughs_peak_bytes", [&] {
        EXPECT_EQ(parseBothWays(billionLaughs(), &error), nullptr);
    });
    EXPECT_EQ(error, kParseError);
    EXPECT_LT(growth, kMemoryBound);
}

// One 100 KB entity referenced 10,000 times parses in libxml2 itself, but would expand to a
// gigabyte in any string value: the model refuses the document.
TEST_F(HostileInputTest, QuadraticBlowupIsRefused) {
    for (bool inAttribute : {false, true}) {
        SCOPED_TRACE(inAttribute ? "in an attribute" : "in content");
        const std::string xml = quadraticBlowup(100'000, 10'000, inAttribute);
        if (!inAttribute) {
            // Without the model's check, libxml2 alone would hand this document out.
            xmlhandles::DocPtr raw(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr,
                                                 nullptr, kCXMLParseOptions));
            ASSERT_TRUE(raw);
            EXPECT_GT(xmlguard::entityExpansionBytes(raw.get()),
                      xmlguard::kMaxEntityExpansionBytes);
        }
        std::optional<CXMLError> error;
        const std::size_t growth = peakGrowthOf(
            inAttribute ? "quadratic_attribute_peak_bytes" : "quadratic_content_peak_bytes",
            [&] { EXPECT_EQ(parseBothWays(xml, &error), nullptr); });
        EXPECT_EQ(error, kParseError);
        EXPECT_LT(growth, kMemoryBound);
    }
}

// Expansion just inside the budget still works: references are replaced in string values, and
// queries that build string values stay within a few times the budget.
TEST_F(HostileInputTest, ExpansionWithinBudgetStillWorks) {
    const std::string xml = quadraticBlowup(400'000, 10, false);
    std::optional<CXMLError> error;
    auto document = parseBothWays(xml, &error);
    ASSERT_TRUE(document);
    auto value = document->rootElement()->stringValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->size(), 4'000'000u);

    std::vector<CXMLNode*> matches;
    const std::size_t growth = peakGrowthOf("query_within_budget_peak_bytes", [&] {
        matches = document->nodesForXPath("//r[contains(., 'needle') or string-length(.) > 10]");
    });
    EXPECT_EQ(matches.size(), 1u);
    EXPECT_LT(growth, kMemoryBound);
}

// The guard counts what every reference would add, nested references and attribute values
// included, and stops counting once past the budget.
TEST_F(HostileInputTest, GuardCountsEveryReference) {
    const std::string xml =
        "<!DOCTYPE r [<!ENTITY b 'yyy'><!ENTITY a 'xx&b;<i>z</i>'>]>"
        "<r v='&b;'>&a;<c>&a;</c>text is not counted</r>";
    xmlhandles::DocPtr raw(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                         kCXMLParseOptions));
    ASSERT_TRUE(raw);
    // a = "xx" + b + "z" = 6 bytes, twice; b = 3 bytes in the attribute.
    EXPECT_EQ(xmlguard::entityExpansionBytes(raw.get()), 15u);
    EXPECT_EQ(xmlguard::entityExpansionBytes(raw.get(), 14), 15u);
    EXPECT_EQ(xmlguard::entityExpansionBytes(raw.get(), 4), 5u);
    EXPECT_TRUE(xmlguard::entityExpansionWithinBudget(raw.get(), 15));
    EXPECT_FALSE(xmlguard::entityExpansionWithinBudget(raw.get(), 14));

    auto document = parse(xml);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->rootElement()->stringValue(),
              std::optional<std::string>("xxyyytext is not counted"));
}

// Nothing a document names outside itself is read or fetched: an external entity, an external
// DTD, a parameter entity or an XInclude, whether it points at a local file or at a loopback
// server.
TEST_F(HostileInputTest, ExternalResourcesAreNeverLoaded) {
    const std::string directory = testing::TempDir();
    const std::string secretPath = directory + "/xml-secret.txt";
    const std::string dtdPath = directory + "/xml-secret.dtd";
    std::ofstream(secretPath) << "LOCAL-FILE-SECRET";
    std::ofstream(dtdPath) << "<!ENTITY fromdtd 'LOCAL-DTD-SECRET'>";

    TestHttpServer server;
    server.serve("/secret.txt", Response::bytes("SERVER-SECRET"));
    server.serve("/secret.dtd", Response::bytes("<!ENTITY fromdtd 'SERVER-DTD-SECRET'>"));
    server.serve("/probe", Response::bytes("probe"));

    const std::vector<std::pair<std::string, std::string>> sources = {
        {"file://" + secretPath, "file://" + dtdPath},
        {secretPath, dtdPath},
        {server.url("/secret.txt"), server.url("/secret.dtd")}};
    for (const auto& [text, dtd] : sources) {
        const std::vector<std::string> documents = {
            "<!DOCTYPE r [<!ENTITY ext SYSTEM '" + text + "'>]><r>&ext;</r>",
            "<!DOCTYPE r SYSTEM '" + dtd + "'><r>&fromdtd;</r>",
            "<!DOCTYPE r [<!ENTITY % p SYSTEM '" + dtd + "'> %p;]><r>&fromdtd;</r>",
            "<r xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='" + text +
                "' parse='text'/></r>",
            "<!DOCTYPE r [<!ENTITY ext SYSTEM '" + text + "'>]><r a='&ext;'/>"};
        for (const std::string& xml : documents) {
            SCOPED_TRACE(xml);
            for (auto& document :
                 {CXMLDocument::initWithData(xml, 0), CXMLDocument::initWithXMLString(xml, 0)}) {
                if (!document) continue;
                std::string seen = document->description();
                if (CXMLElement* root = document->rootElement()) {
                    seen += root->stringValue().value_or("");
                    for (CXMLNode* attribute : root->attributes()) {
                        seen += attribute->stringValue().value_or("");
                    }
                }
                EXPECT_EQ(seen.find("SECRET"), std::string::npos) << seen;
            }
        }
    }
    // Connections are numbered in order of arrival: had the parser connected, the probe would
    // not be the first one.
    ASSERT_TRUE(platform::loadURL(server.url("/probe")).ok);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/probe");
    EXPECT_EQ(requests[0].connection, 1);
}

// 100,000 levels of nesting: XML is refused by libxml2's depth limit, HTML is cut at it; either
// way every operation of the model runs without exhausting the stack.
TEST_F(HostileInputTest, DeepNestingDoesNotCrash) {
    constexpr int kDepth = 100'000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) xml += "<a>";
    xml += "deep";
    for (int i = 0; i < kDepth; ++i) xml += "</a>";
    std::optional<CXMLError> error;
    EXPECT_EQ(parseBothWays(xml, &error), nullptr);
    EXPECT_EQ(error, kParseError);

    std::string html = "<html><body>";
    for (int i = 0; i < kDepth; ++i) html += "<div class='x'>";
    html += "deep";
    auto document = CXMLDocument::initWithXMLString(html, CXMLDocumentHTMLOption);
    ASSERT_TRUE(document);
    auto divs = document->nodesForXPath("//div");
    ASSERT_FALSE(divs.empty());
    CXMLNode* deepest = divs.back();
    EXPECT_GT(deepest->level(), 2u);
    EXPECT_EQ(deepest->rootDocument(), document.get());
    deepest->stringValue();
    const std::string markup = document->XMLString();
    EXPECT_EQ(markup.rfind("<html><body><div class=\"x\">", 0), 0u);
    EXPECT_EQ(markup.substr(markup.size() - 7), "</html>");
    EXPECT_FALSE(document->description().empty());
    EXPECT_EQ(document->nodesForXPath("//div[string-length(.) < 5]").size(), divs.size());
}
