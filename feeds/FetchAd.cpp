#include "feeds/FetchAd.h"

#include "platform/http/URLLoader.h"
#include "xml/CXMLDocument.h"

#include <utility>

FetchAd::FetchAd(std::string adListURL) : adListURL_(std::move(adListURL)) {}

std::unique_ptr<CXMLDocument> FetchAd::fetchDocument() const {
    // The screens fetch the list on the main thread: a stalled advertisement server may hold
    // the window for this long, and no longer.
    platform::LoadOptions options;
    options.connectTimeoutMs = kBudgetMs;
    options.totalTimeoutMs = kBudgetMs;
    const platform::LoadResult load = platform::loadURL(adListURL_, options);
    if (!load.ok) return nullptr;
    return CXMLDocument::initWithData(load.bytes, 0);
}

std::optional<std::string> FetchAd::getAds() const {
    std::optional<std::string> result = std::string();
    try {
        initXMLParser();
        // A list that cannot be fetched or parsed gives no document, and so the empty string.
        const std::unique_ptr<CXMLDocument> document = fetchDocument();
        if (document) {
            // Every child of every `string` element is read; each one replaces the last, so the
            // final child of the final non-empty element wins.
            for (CXMLNode* node : document->nodesForXPath("//string")) {
                const std::size_t count = node->childCount();
                for (std::size_t index = 0; index < count; ++index) {
                    if (CXMLNode* child = node->childAtIndex(index)) result = child->stringValue();
                }
            }
        }
    } catch (...) {
        // The marquee shows this like any other text; the model's own failures (a child it
        // cannot wrap) end up here.
        result = "Network error";
    }
    return result;
}
