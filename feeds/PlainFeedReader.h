#pragma once
// The catalogue's three lists read from a plain feed in one pass of the parser, without a
// tree. The document model holds a node and its wrapper for every element and text of the feed
// (about 20 MB for 10,000 programmes) only for three queries to walk them once; here the
// parser's events give the same values as they go by.
//
// It reads what the document model's queries read, and nothing else: every child of each
// `title` that has no namespace, the first attribute named `url` of each `enclosure`, and the
// direct `author` children of each `item`. Whatever it does not model, it declines rather than
// guesses, and the caller reads the feed through the document model instead.

#include "feeds/CatalogueLists.h"

#include <optional>
#include <string_view>

// The lists of `bytes`, or nullopt when the feed does not parse or holds anything this pass
// leaves to the document model: a DTD or an entity reference, a comment, CDATA or processing
// instruction directly in a title (or the last directly in an item), a title within a title or
// an item within an item, a prefix with no namespace, an empty `url` or one that holds a
// reference, a value the lists would refuse as absent, a text over 1 MB, or nesting over 200
// levels. Any thread.
std::optional<CatalogueLists> readPlainFeed(std::string_view bytes, bool withAuthors);
