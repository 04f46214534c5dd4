#pragma once
// Process-wide libxml2 set-up and the parser options every XML parse of the model uses.

#include <libxml/parser.h>

#include <string_view>

// Initialises libxml2 once for the process: call it first on the main thread, before any
// thread parses (the app from main(), tests from their set-up). Later calls do nothing; the
// document factories call it too, so a forgotten call is not fatal.
//
// It also installs an external-entity loader that refuses every resource: the model parses
// whatever a server sends and has no use for anything a document points at.
void initXMLParser();

// Options for every XML parse. Deliberately absent: XML_PARSE_NOENT (it would substitute and so
// load external entities), XML_PARSE_DTDLOAD / DTDATTR / DTDVALID (they fetch the external
// subset), XML_PARSE_HUGE (it lifts libxml2's limits on depth and text size) and
// XML_PARSE_XINCLUDE. NONET keeps the network off even if one of those were added later.
// COMPACT keeps short texts inside their nodes instead of a block of their own: safe because
// the model only ever reads a tree, never changes it.
inline constexpr int kCXMLParseOptions = XML_PARSE_NONET | XML_PARSE_COMPACT;

// Feeds `data` to a push parser context a block at a time and ends the parse; returns whether
// the document was well formed. Unlike xmlReadMemory, which first copies the whole input into
// a buffer of its own that grows by doubling, the push parser keeps only what it has not
// parsed yet. A handler that stops the parser (xmlStopParser) ends the feeding early.
bool parseInBlocks(xmlParserCtxt* context, std::string_view data);
