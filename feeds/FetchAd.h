#pragma once
// The advertisement list: a small XML property list whose last `string` element is the
// sponsor text the players show in their marquee.
//
// Threads: getAds runs synchronously on the calling thread (the screens call it on the main
// thread while they set up) and keeps no state, so two calls are independent.

#include <memory>
#include <optional>
#include <string>

class CXMLDocument;

class FetchAd {
public:
    // The whole fetch (connecting included) ends within this many milliseconds.
    static constexpr long kBudgetMs = 3000;

    // `adListURL` is the list's address; the app passes the compiled-in one.
    explicit FetchAd(std::string adListURL);

    // Fetches and parses the list on every call (no caching) and returns the string value of
    // the last child of the last `string` element that has children. The empty string when
    // the list cannot be fetched or does not parse, or has no such element; absent when that
    // last child has no string value (a comment); "Network error" when the document model
    // fails while the list is read. Never throws.
    std::optional<std::string> getAds() const;

private:
    std::unique_ptr<CXMLDocument> fetchDocument() const;

    std::string adListURL_;
};
