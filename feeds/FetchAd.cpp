#include "feeds/FetchAd.h"

#include "xml/CXMLDocument.h"

#include <utility>

FetchAd::FetchAd(std::string adListURL) : adListURL_(std::move(adListURL)) {}

std::optional<std::string> FetchAd::getAds() const {
    std::optional<std::string> result = std::string();
    try {
        initXMLParser();
        // A list that cannot be fetched or parsed gives no document, and so the empty string.
        const std::unique_ptr<CXMLDocument> document =
            CXMLDocument::initWithContentsOfURL(adListURL_, 0);
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
