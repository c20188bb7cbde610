#include "html2txt/html_converter.h"
#include "reference/html_converter_plain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/corpus.h"

namespace varnox {
namespace {

// The bullet of list items: U+30FB KATAKANA MIDDLE DOT in UTF-8.
constexpr std::string_view kBullet = "\xE3\x83\xBB";

std::string Repeat(std::string_view unit, std::size_t times) {
  std::string s;
  s.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) s += unit;
  return s;
}

// Compares long byte strings without printing them whole.
testing::AssertionResult SameBytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const std::size_t at = static_cast<std::size_t>(diff.first - actual.begin());
  return testing::AssertionFailure()
         << "sizes " << actual.size() << " and " << expected.size() << ", first difference at "
         << at << ": actual " << testing::PrintToString(actual.substr(at, 40)) << ", expected "
         << testing::PrintToString(expected.substr(at, 40));
}

class HtmlConverterTest : public testing::Test {
 protected:
  // Converts html (up to its first NUL, as HtmlToText reads it) into a
  // buffer of the bound plus guard bytes, checks that the result ends inside
  // the bound, that nothing was written past it and that the reference form
  // gives the same text and title, and returns it.
  std::string Convert(const std::string& html) {
    constexpr std::size_t kGuard = 64;
    const std::size_t len = std::strlen(html.c_str());
    const std::size_t bound = HtmlOutputBound(len);
    std::vector<char> out(bound + kGuard, '\x7F');
    EXPECT_EQ(HtmlToText(&converter_, html.c_str(), out.data()), 0);
    const auto end = std::find(out.begin(), out.end(), '\0');
    EXPECT_LT(end - out.begin(), static_cast<std::ptrdiff_t>(bound)) << "no end inside the bound";
    EXPECT_TRUE(std::all_of(out.begin() + bound, out.end(), [](char c) { return c == '\x7F'; }))
        << "bytes written past the bound";
    std::string text(out.begin(), end);

    std::string plain_title(converter_.Title());
    const std::string plain = HtmlToTextPlain(std::string_view(html.c_str(), len), &plain_title);
    EXPECT_TRUE(SameBytes(text, plain)) << "fast and reference forms differ";
    EXPECT_EQ(converter_.Title(), plain_title) << "title fields differ";
    return text;
  }

  HtmlConverter converter_;
};

TEST_F(HtmlConverterTest, Conversions) {
  const std::string bullet(kBullet);
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      // Line feeds are dropped outside pre.
      {"a\n\nb\r\nc\r\n\r\nd\re\r\r\nf\r", "ab\nc\n\nd\re\r\nf\r"},
      // Pre keeps line feeds until it ends.
      {"<pre>a\r\nb\nc</pre>d\ne", "a\nb\ncde"},
      {"<PRE>x\ny", "x\ny"},
      {"<pre class=x>a\nb", "ab"},  // only the bare tag switches
      {"<pre>a\n  <b>x", "a\nx"},
      {"<pre>a\n  x", "a\n  x"},
      // Blanks starting a line before a tag are dropped.
      {"a\n  <b>x</b>", "ax"},
      {"a\n\t \t<br>x", "a\nx"},
      {"a\r\n  <br>b", "a\n\nb"},
      {"a\n  \n<br>", "a  \n"},                  // the line feed comes before any tag
      {"a  <br>", "a  \n"},                      // not at the start of a line
      {"a\n  text    b\n  ", "a  text    b  "},  // runs are never collapsed
      {"\n <p>", "\n\n"},
      // Tag names match in either case but need a blank or close.
      {"<P>1<Br >2<TITLE>t</TITLE>", "\n\n1\n2Title: t\n"},
      {"<br/><br\t><br\n><brx><pa>x<p class=x>", "x\n\n"},
      {"<br", ""},
      // Each line tag gives its output.
      {"a<h1>b</h1>c<h2>d</h2>e<h3>f</h3>g<h4>h</h4>i", "a\nb\nc\nd\ne\nf\ng\nh\ni"},
      {"a<h5>b</h5>c<h6>d</h6>", "abcd"},
      {"<ul><li>a<li>b</ul>", "\n\n\t" + bullet + "a\n\t" + bullet + "b"},
      {"<ol><li>a</li></ol>", "\n\n\t" + bullet + "a"},
      {"<dl><dt>a<dd>b</dl>", "\n\n\t" + bullet + "ab"},
      {"<table><tr><td>a</td><td>b</td></tr></table>", "ab\n"},
      {"<cite>x</cite><div>a</div><p>b</p>", "\"x\"\na\n\n\nb\n"},
      {"a<br>b</br>c", "a\nb\nc"},
      // Other tags and declarations are dropped.
      {"<b>a</b><i>b</i><a href=\"x\">c</a><img src=y><hr>", "abc"},
      {"<!DOCTYPE html>w<?xml version=1.0?>x<!-x>y<html><body>z</body></html>", "wxyz"},
      // Less than not starting a tag is text.
      {"a < b<1 > c<", "a < b<1 > c<"},
      {"<<b>", "<"},
      {"a<\x01>", "a<\x01>"},
      // Eight bit and control bytes are copied.
      {"caf\xC3\xA9 \xE9\xFF\x80\x01\x1B\x1F\x7F\034b",
       "caf\xC3\xA9 \xE9\xFF\x80\x01\x1B\x1F\x7F\034b"},
      // Pattern punctuation also matches the control byte 0x20 below it, and
      // lower-case pattern letters match upper-case input.
      {"\x1Ctitle>x</title>", "Title: x\n"},
      {"<title>x\x1C\x0FTITLE\036y", "Title: x\ny"},
      {"<!--a\r\r>b", "\nComment:\n\ta\nb"},
      {"<!\r\rx-->", "\nComment:\n\tx\n"},
      {"&lt\x1B", "<"},
      {"<h\x11>x", "\nx"},
      // The tag output comes, but 0x0F does not open a tag body, so the '<'
      // and the rest are text.
      {"a<\x0Fh1>b", "a\n<>b"},
      // 0x1C is not '<' for tags, but it switches pre like "<pre>" does.
      {"\x1Cpre>a\nb", "\x1Cpre>a\nb"},
      {"<script>a<\x0Fscript\036b", "b"},
      // Tags inside other tags still act.
      {"<a title=\"<br>\">x</a>", "\n\">x"},
      {"<a <title>T</title>>x", "Title: T\nx"},
      {"<a <!--c-->x>y", "\nComment:\n\t\ny"},
      // The comment ends inside the tag body (CR matches '-'); the tag goes on.
      {"<!--<a\r\r>b-->c", "\nComment:\n\t\nc"},
      {"<!--<a -->b>c-->d", "\nComment:\n\t\nc-->d"},
      // Blockquote indents every line feed.
      {"<blockquote>a<br>b<title>T</title><p>c</blockquote><br>d",
       "a\n\tbTitle: T\n\t\n\t\n\tc\nd"},
      {"<blockquote><!--x-->", "\n\tComment:\n\t\tx\n\t"},
      {"<blockquote><li>x", "\n\t\t" + bullet + "x"},
      {"<blockquote><pre>a\nb", "a\n\tb"},
      {"<blockquote>a\r\nb", "a\n\tb"},
      {"<blockquote><title>a\nb</title>", "Title: a\n\tb\n\t"},
      {"<BLOCKQUOTE>a<br>", "a\n\t"},
      {"<blockquote class=x>a<br>", "a\n"},  // only the bare tag switches
      // Script style and xml bodies are skipped.
      {"<script>if (a<b) x();</script>T<style>p { color: red }</style>a<xml>a<b>c</xml>d"
       "<SCRIPT type=x>y</ScRiPt>z<script></script>x",
       "Tadzx"},
      {"<scripts>a</scripts>", "a"},    // another tag
      {"<script\n>a</script>b", "ab"},  // not a script start
      {"a<script>b</script >c", "a"},   // the end tag must be exact
      {"<script><p>a</script><p>b", "\n\nb"},
      // Unterminated elements swallow the rest.
      {"a<script>b<p>c", "a"},
      {"a<style>b<p>c", "a"},
      {"a<xml>b<p>c", "a"},
      {"a<title>b<p>c", "a"},
      // A comment is not skipped: its text keeps coming out.
      {"a<!--b<br>c", "a\nComment:\n\tb\nc"},
      {"<!-- note --><!---->", "\nComment:\n\t note \n\nComment:\n\t\n"},
      {"<!--a<br>b&amp;-->", "\nComment:\n\ta\nb&\n"},
      {"a-->b", "a-->b"},
      {"<!--a->b-->c", "\nComment:\n\ta->b\nc"},
      // Entities give their text.
      {"x&lt;y&gt;z&amp;&quot;&reg;&copy;&trade;&nbsp;", "x<y>z&\"(r)(c)tm "},
      // á í Ð ñ ó, then two without a two-byte form, then ú.
      {"&Aacute;&aacute;&Iacute;&iacute;&ETH;&eth;&Ntilde;&ntilde;&Oacute;&oacute;",
       "\xC3\xA1\xC3\xA1\xC3\xAD\xC3\xAD\xC3\x90\xC3\x90\xC3\xB1\xC3\xB1\xC3\xB3\xC3\xB3"},
      {"&Oslash;&oslash;&Yacute;&yacute;&Uacute;&uacute;", "00YY\xC3\xBA\xC3\xBA"},
      // Entity names match upper case input.
      {"&LT;&Lt;&AMP;&Eth;&NBSP;&COPY;&IACUTE;&TRADE;", "<<&\xC3\x90 (c)\xC3\xADtm"},
      // Other entities are copied and decoding is done once.
      {"&amp;lt;&amp;amp;&#169;&#x20;&euro;R&D", "&lt;&amp;&#169;&#x20;&euro;R&D"},
      {"&lt", "&lt"},
      {"&nbsp ;&", "&nbsp ;&"},
      {"<a href=\"?a=1&amp;b=2\">x</a>", "x"},
  };
  for (const auto& [html, expected] : cases) {
    EXPECT_EQ(Convert(html), expected) << "input: " << testing::PrintToString(html);
  }
  EXPECT_EQ(converter_.Title(), "b<p>c");  // of the unterminated title, the last one read
}

// Runs on one converter: the title field is the raw text, kept until the
// next title and cut before a character that would not fit whole; no other
// scan state carries over.
TEST_F(HtmlConverterTest, RunsOnOneConverter) {
  const std::string x300(300, 'x'), a254(254, 'a');
  const struct {
    std::string html, text, title;
  } runs[] = {
      {"<title>Hello</title>x", "Title: Hello\nx", "Hello"},
      {"<title>a&amp;<b>c\nd</title>", "Title: a&amp;<b>c\nd\n", "a&amp;<b>c\nd"},
      {"no title here", "no title here", "a&amp;<b>c\nd"},
      {"<title lang=en>x</title>", "x", "a&amp;<b>c\nd"},  // not a title start
      {"<title></title>", "Title: \n", ""},
      {"<title>" + x300 + "</title>", "Title: " + x300.substr(0, 255) + "\n", x300.substr(0, 255)},
      {"<title>" + a254 + "\u00F1b</title>", "Title: " + a254 + "\n", a254},
      {"<pre><blockquote><b", "", a254},
      {"a\nb<br>c", "ab\nc", a254},
      {"<!--x", "\nComment:\n\tx", a254},
      {"a-->b", "a-->b", a254},
      {"<a href=", "", a254},
      {"x>y", "x>y", a254},
  };
  for (const auto& r : runs) {
    EXPECT_EQ(Convert(r.html), r.text);
    EXPECT_EQ(converter_.Title(), r.title) << r.html;
  }
}

// UTF-8 text is cut at a character boundary, other text at 255 bytes.
TEST(TitleFieldLength, CutsAtACharacterBoundaryWhenTheTextIsUtf8) {
  const std::string a(251, 'a');
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},
      {std::string(255, 'a'), 255},
      {std::string(256, 'a'), 255},
      {a + "aaa\xC3\xB1", 254},      // 2 bytes over the cut
      {a + "aa\xC3\xB1\x62", 255},   // ends right at the cut
      {a + "aa\xE3\x83\xBB", 253},   // 3 bytes, 2 kept
      {a + "aaa\xE3\x83\xBB", 254},  // 3 bytes, 1 kept
      {a + "a\xF0\x9F\x98\x80", 252},
      {a + "\xF0\x9F\x98\x80\x62", 255},
      {a + "aaa\xE9x", 255},      // Latin-1 letter
      {a + "aaa\xE9\xA9x", 255},  // lead byte, too few continuations
      {a + "aaa\xC3\xC3", 255},   // no continuation at the cut
      {a + "\xBF\xBF\xBF\xBF\xBF", 255},
      {a + "aaa\xC0\x80", 255},  // overlong lead
  };
  for (const auto& [title, length] : cases)
    EXPECT_EQ(TitleFieldLength(title), length) << title.size();
}

// What the program's conversion does when no converter could be made.
TEST(HtmlToTextInstance, NullConverterLeavesOutputUntouched) {
  char out[16] = "untouched";
  EXPECT_EQ(HtmlToText(nullptr, "<p>x", out), -1);
  EXPECT_STREQ(out, "untouched");
}

// Inputs whose text is longer than the bound: the result is the start of
// the full text, exactly bound - 1 bytes, and the scan goes on past the cut.
TEST_F(HtmlConverterTest, ExpandingInputIsCutAtTheBound) {
  const struct {
    std::string prefix, unit, unit_text;
  } expansions[] = {
      {"", "<!---->", "\nComment:\n\t\n"},
      {"", "<!--", "\nComment:\n\t"},
      {"<blockquote>", "<p>", "\n\t\n\t"},
      {"", "<li>", "\n\t" + std::string(kBullet)},
      {"<blockquote>", "<li>", "\n\t\t" + std::string(kBullet)},  // cut inside a bullet
  };
  for (const auto& e : expansions) {
    SCOPED_TRACE(e.unit);
    const std::size_t times = 3 * 4096 / (e.unit_text.size() - e.unit.size()) + 5000;
    const std::string html = e.prefix + Repeat(e.unit, times) + "<title>last</title>";
    const std::string text = Convert(html);
    EXPECT_EQ(text.size() + 1, HtmlOutputBound(html.size()));
    EXPECT_TRUE(SameBytes(text, Repeat(e.unit_text, times).substr(0, text.size())));
    EXPECT_EQ(converter_.Title(), "last");
  }
  // 3500 bytes give 6000: within the bound, kept whole.
  EXPECT_EQ(Convert(Repeat("<!---->", 500)), Repeat("\nComment:\n\t\n", 500));
}

TEST_F(HtmlConverterTest, HundredThousandNestedLookingTags) {
  constexpr std::size_t kDepth = 100000;
  const std::string nl(kDepth, '\n');
  EXPECT_TRUE(
      SameBytes(Convert(Repeat("<div>", kDepth) + "x" + Repeat("</div>", kDepth)), nl + "x" + nl));
  EXPECT_EQ(Convert(Repeat("<b><i>", kDepth) + "x" + Repeat("</i></b>", kDepth)), "x");
  EXPECT_EQ(Convert(Repeat("<a ", kDepth) + "x"), "");
  EXPECT_TRUE(SameBytes(Convert(std::string(kDepth, '<') + "b>"), std::string(kDepth - 1, '<')));
  EXPECT_EQ(Convert(Repeat("<script>", kDepth) + "</script>x"), "x");
  EXPECT_EQ(Convert("a\n" + std::string(kDepth, ' ') + "<br>x"), "a\nx");
}

// Short random mixtures of the bytes and names the converter reacts to.
TEST_F(HtmlConverterTest, RandomMarkupAgreesWithTheReference) {
  // Pieces separated by '|'.
  const std::string_view kPieces =
      "<|>|/|!|-|--|&|;| |\t|\n|\r|\r\n|\r\r>|\x1C|\x0F|\x1E|\x1B|\x01|\x11|a|x|\xC3\xA9|\xE3\x83|"
      "\xBB|1|?|\"|=|title|TITLE|script|style|xml|pre|blockquote|p|br|li|dt|h1|h4|div|cite|tr|"
      "ul|lt|amp|nbsp|eth|ETH|Aacute|trade|<!--|-->|<!|<a |<title>|</title>|<script>|"
      "</script>|<pre>|</pre>|<blockquote>|</blockquote>|<br>|<p>|<li>|&lt;|&amp;|\n  <";
  std::vector<std::string> pieces{std::string(1, '\0')};
  for (std::size_t from = 0, bar; from <= kPieces.size(); from = bar + 1) {
    bar = std::min(kPieces.find('|', from), kPieces.size());
    pieces.emplace_back(kPieces.substr(from, bar - from));
  }
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> count(0, 60);
  for (int round = 0; round < 100000; ++round) {
    std::string html;
    for (int i = count(random); i > 0; --i) html += pieces[pick(random)];
    HtmlConverter converter;
    std::string plain_title;
    const std::string plain = HtmlToTextPlain(html, &plain_title);
    ASSERT_TRUE(SameBytes(converter.Convert(html), plain)) << testing::PrintToString(html);
    ASSERT_EQ(converter.Title(), plain_title) << testing::PrintToString(html);
  }
}

// Every corpus message, converted whole as the program would convert an
// HTML part, gives the same bytes in both forms and stays inside the bound.
TEST_F(HtmlConverterTest, CorpusMessagesGiveTheReferenceText) {
  const std::vector<std::string> files = testsupport::CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "corpus not found under " << testsupport::CorpusDir();
  std::size_t html_messages = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::string bytes = testsupport::ReadAll(path);
    Convert(bytes);
    if (bytes.find("<html") != std::string::npos || bytes.find("<HTML") != std::string::npos)
      ++html_messages;
    if (HasFailure()) break;
  }
  EXPECT_GT(html_messages, 100u) << "the corpus should hold many HTML messages";
}

}  // namespace
}  // namespace varnox
