// The one-pass reader against the document model, feed by feed: where it reads a feed it must
// give exactly the model's lists, and where it declines, the lists (or the failure) must still
// be the model's.

#include <gtest/gtest.h>

#include "feeds/CatalogueLists.h"
#include "feeds/PlainFeedReader.h"
#include "tests/feeds/CatalogueTestSupport.h"

#include <string>
#include <typeinfo>
#include <variant>

namespace feedtest {
namespace {

// The lists, or the type of what was thrown.
using Outcome = std::variant<CatalogueLists, std::string>;

template <typename Build>
Outcome outcomeOf(Build build) {
    try {
        return build();
    } catch (const std::exception& error) {
        return std::string(typeid(error).name());
    }
}

void expectSame(const Outcome& expected, const Outcome& actual) {
    ASSERT_EQ(expected.index(), actual.index());
    if (const auto* thrown = std::get_if<std::string>(&expected)) {
        EXPECT_EQ(*thrown, std::get<std::string>(actual));
        return;
    }
    const auto& want = std::get<CatalogueLists>(expected);
    const auto& got = std::get<CatalogueLists>(actual);
    EXPECT_EQ(want.titls, got.titls);
    EXPECT_EQ(want.urls, got.urls);
    EXPECT_EQ(want.artists, got.artists);
}

// Checks `feed` both with and without authors. Returns whether the one-pass reader read it.
bool readsLikeTheModel(const std::string& feed) {
    bool readInOnePass = true;
    for (const bool withAuthors : {false, true}) {
        SCOPED_TRACE(withAuthors ? "with authors" : "without authors");
        const Outcome model =
            outcomeOf([&] { return buildCatalogueListsFromDocument(feed, withAuthors); });
        expectSame(model, outcomeOf([&] { return buildCatalogueLists(feed, withAuthors); }));
        const auto onePass = readPlainFeed(feed, withAuthors);
        if (onePass) {
            expectSame(model, *onePass);
        } else {
            readInOnePass = false;
        }
    }
    return readInOnePass;
}

std::string channel(const std::string& items, const std::string& rootAttributes = "") {
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"" + rootAttributes +
           "><channel><title>Ostra</title><image><title>Logo</title></image>\n" + items +
           "</channel></rss>\n";
}

TEST(PlainFeedReader, ReadsRegularAndPodcastFeedsAsTheModelDoes) {
    EXPECT_TRUE(readsLikeTheModel(rssFeed(morningShows())));
    EXPECT_TRUE(readsLikeTheModel(rssFeed(eveningShows(), "Ostra &amp; Friends")));

    std::vector<Programme> many;
    for (int index = 0; index < 2000; ++index) {
        many.push_back({"Show " + std::to_string(index),
                        "http://radio.example/" + std::to_string(index) + ".mp3",
                        {"Host " + std::to_string(index % 7)}});
    }
    EXPECT_TRUE(readsLikeTheModel(rssFeed(many)));  // many 64 KB blocks

    // A podcast's namespaced twins never count; a namespaced url attribute still does.
    const std::string itunes = " xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\"";
    EXPECT_TRUE(readsLikeTheModel(
        channel("<item><title>A</title><itunes:title>not this</itunes:title>"
                "<itunes:author>no</itunes:author><author>Ann</author><author>Bo</author>"
                "<enclosure itunes:url=\"http://a/first.mp3\" url=\"http://a/second.mp3\"/>"
                "<itunes:enclosure url=\"http://a/not.mp3\"/></item>",
                itunes)));
    // A default namespace puts every element out of reach of the plain names.
    EXPECT_TRUE(readsLikeTheModel(
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title><item><author>A</author>"
        "<enclosure url=\"http://a/1.mp3\"/></item></feed>"));
}

TEST(PlainFeedReader, ReadsTextShapesAsTheModelDoes) {
    // Whitespace, references to predefined entities and characters, and title children.
    EXPECT_TRUE(readsLikeTheModel(
        channel("<item>\n <title>\n  Rock &amp; Roll &#233;&#x263A; &lt;live&gt;\n </title>\n"
                " <enclosure url=\"http://a/1.mp3?x=1\" length=\"1\"/>\n"
                " <author>  Ann\tB  </author>\n</item>\n"
                "<item><title>lead <b>bold <i>deep</i> tail</b> after <em>e</em>x</title>"
                "<enclosure url=\"http://a/2.mp3\"/></item>")));
    // An empty title gives nothing; titles and enclosures anywhere count, authors only in items.
    EXPECT_TRUE(readsLikeTheModel(channel(
        "<item><title/><title></title><enclosure url=\"http://a/1.mp3\"/></item>"
        "<extra><deep><title>stray</title><enclosure url=\"http://a/2.mp3\"/></deep>"
        "<author>not in an item</author></extra>"
        "<item><group><author>not direct</author></group><author>A<b>x</b>B</author></item>")));
    // CDATA, comments and processing instructions where the lists do not look at them, and
    // CDATA inside a title's child and an author, which adds to their value.
    EXPECT_TRUE(readsLikeTheModel(
        "<?xml version=\"1.0\"?><?xml-stylesheet href=\"feed.xsl\"?><!-- made by hand -->\n"
        "<rss><channel><description><![CDATA[<p>Hi</p>]]></description><!-- c -->"
        "<item><title><b><![CDATA[Cd]]>ata</b></title><description><?pi x?></description>"
        "<author><![CDATA[Ann]]><!-- c --> Bo</author><enclosure url=\"http://a/1.mp3\"/>"
        "<!-- item comment --></item></channel></rss>"));
    // Other encodings arrive as UTF-8 either way.
    EXPECT_TRUE(
        readsLikeTheModel("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                          "<rss><item><title>Caf\xe9</title><author>Jos\xe9</author>"
                          "<enclosure url=\"http://a/\xe9.mp3\"/></item></rss>"));
    const std::string ascii = "<rss><item><title>T</title><author>A</author></item></rss>";
    std::string utf16 = "\xff\xfe";
    for (char c : ascii) utf16 += std::string{c, '\0'};
    EXPECT_TRUE(readsLikeTheModel(utf16));
}

// Each of these the reader leaves to the model, whose lists or failure stand.
TEST(PlainFeedReader, DeclinesWhatItDoesNotModelAndTheModelDecides) {
    const char* declined[] = {
        // Declarations and entities.
        "<!DOCTYPE rss [<!ENTITY who \"Ann\">]><rss><item><title>&who;</title>"
        "<author>&who;</author><enclosure url=\"http://a/1.mp3\"/></item></rss>",
        "<!DOCTYPE rss SYSTEM \"rss.dtd\"><rss><item><title>T</title></item></rss>",
        "<rss><item><title>&undeclared;</title></item></rss>",
        // What a title or an item holds that has no value, or that the model cannot wrap.
        "<rss><item><title><![CDATA[T]]></title><enclosure url=\"http://a/1.mp3\"/></item></rss>",
        "<rss><item><title>T<!-- c --></title><enclosure url=\"http://a/1.mp3\"/></item></rss>",
        "<rss><item><title>T<?pi x?></title><enclosure url=\"http://a/1.mp3\"/></item></rss>",
        "<rss><item><title>T</title><?pi x?><author>A</author></item></rss>",
        "<rss><item><title>T<b/></title><enclosure url=\"http://a/1.mp3\"/></item></rss>",
        "<rss><item><title>T</title><author></author><author>A</author></item></rss>",
        "<rss><item><title>T</title><author><b>only a child</b></author></item></rss>",
        // Nesting the reader does not follow.
        "<rss><title>outer<title>inner</title></title></rss>",
        "<rss><title><b>x<title>inner</title></b></title></rss>",
        "<rss><item><author>A</author><item><author>B</author></item><author>C</author></item>"
        "</rss>",
        // Names the model sees through their prefix.
        "<rss><item><p:author>A</p:author><author>B</author></item></rss>",
        "<rss><item><enclosure p:url=\"http://a/1.mp3\" url=\"http://a/2.mp3\"/></item></rss>",
        // URLs that are empty, hold a reference, or are missing.
        "<rss><item><enclosure url=\"\"/></item></rss>",
        "<rss><item><enclosure url=\"http://a/1.mp3?a=1&amp;b=2\"/></item></rss>",
        "<rss><item><enclosure type=\"audio/mpeg\"/></item></rss>",
        // Bytes that are not a document.
        "<rss><item><title>T</title></item>",
        "not xml at all",
        "<html><body><p>502 Bad Gateway</body></html>",
    };
    for (const char* feed : declined) {
        SCOPED_TRACE(feed);
        EXPECT_FALSE(readsLikeTheModel(feed));
    }
    EXPECT_FALSE(readPlainFeed("", true));
}

TEST(PlainFeedReader, DeclinesHugeTextsAndDeepNesting) {
    EXPECT_FALSE(readsLikeTheModel("<rss><item><title>" + std::string(1024 * 1024 + 1, 'x') +
                                   "</title></item></rss>"));
    EXPECT_FALSE(
        readsLikeTheModel(channel("<item><author>" + std::string(600 * 1024, 'a') + "<b/>" +
                                  std::string(600 * 1024, 'b') + "</author></item>")));
    std::string deep;
    for (int level = 0; level < 250; ++level) deep += "<d>";
    deep += "<title>T</title>";
    for (int level = 0; level < 250; ++level) deep += "</d>";
    EXPECT_FALSE(readsLikeTheModel(deep));
}

}  // namespace
}  // namespace feedtest
