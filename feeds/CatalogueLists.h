#pragma once
// The programme catalogue as one parse of the feed yields it: every `title` text, every
// `enclosure` URL and every `author` of every `item`, each from its own query.
//
// The three lists line up by position only when the feed is regular: the list screen shows
// row n with title n + 2 (the channel's title and its image's title come first) and plays URL
// n. Nothing here pairs them, so an irregular feed shifts them against each other.

#include <string>
#include <string_view>
#include <vector>

struct CatalogueLists {
    std::vector<std::string> titls;
    std::vector<std::string> urls;
    std::vector<std::string> artists;

    // Lists worth showing: at least one title and one URL.
    bool usable() const { return !titls.empty() && !urls.empty(); }
};

// Builds the lists from the raw feed bytes; `withAuthors` also fills `artists`. Bytes that do
// not parse (none at all, an error page) give empty lists. Throws when a value to append is
// absent (an enclosure without `url`, a CDATA or comment child of a title, an empty author) or
// when the document model cannot wrap a node: the whole attempt then counts as failed.
// Any thread; each call parses its own document.
//
// A plain feed is read in one pass without a tree (see PlainFeedReader.h); anything else, and
// every failure, through the document model, which is the reference for the result.
CatalogueLists buildCatalogueLists(std::string_view bytes, bool withAuthors);

// The same lists, always through the document model.
CatalogueLists buildCatalogueListsFromDocument(std::string_view bytes, bool withAuthors);
