// Finding a message's text part and turning it into text and tokens, on
// hand-made MIME texts; the corpus goes through it in the whole-program scan.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "mailstore/decode.h"
#include "mailstore/extract.h"
#include "platform/maildir.h"

namespace varnox {
namespace {

std::optional<std::string> Find(std::string_view mime, std::string_view header) {
  std::string part = "untouched";
  if (!FindMimePart(CanonicalLineEnds(mime), header, part)) return std::nullopt;
  return part;
}

struct Extracted {
  std::string text;
  std::string tokens;
};

Extracted Extract(std::string_view mime, const std::string& subject = "") {
  const std::string original = CanonicalLineEnds(mime);
  std::string lowered = original;
  LowerAscii(lowered);
  Extracted e;
  ExtractMessageText(lowered, original, subject, e.tokens, e.text, nullptr);
  return e;
}

constexpr std::string_view kPlain = "content-type: text/plain";

// A one-part message: header lines, an empty line, the body.
std::string Message(std::string_view headers, std::string_view body) {
  return "From: a@b.example\nSubject: s\n" + std::string(headers) + "\n\n" + std::string(body);
}

TEST(FindMimePart, HeaderLinesAndPartEnds) {
  // The first line never counts; the same header on the second line does.
  EXPECT_FALSE(Find("Content-Type: text/plain\n\nhello", kPlain));
  EXPECT_EQ(Find("X: y\nContent-Type: text/plain\n\nhello", kPlain), "hello");
  // Literal search: no blank after the colon, or no empty line, is no part.
  EXPECT_FALSE(Find("X: y\nContent-Type:text/plain\n\nhello", kPlain));
  EXPECT_FALSE(Find("X: y\nContent-Type: text/plain\nhello", kPlain));
  EXPECT_FALSE(Find("Content-Type: text/plain", kPlain));
  EXPECT_FALSE(Find("X: y\nContent-Type: text/plain\n\nhello", "content-type: text/html"));

  const std::string head = "X: y\nContent-Type: text/plain\n\n";
  // Leading line ends dropped, the part lowered, running to the end.
  EXPECT_EQ(Find(head + "\n\nHello World", kPlain), "hello world");
  // Ends where CR LF "--" starts: nothing of the text is lost.
  EXPECT_EQ(Find(head + "Hello World\n--b--\n", kPlain), "hello world");
  // Eleven characters, an empty line, the boundary: the CR LF CR LF's second
  // half starts the sequence, so the text and one CR LF remain.
  EXPECT_EQ(Find(head + "Hello World\n\n--b--\n", kPlain), "hello world\r\n");
  // A signature separator ends the part, as a boundary would.
  EXPECT_EQ(Find(head + "Buy now\n-- \nJoe\n", kPlain), "buy now");
  // An empty part whose boundary follows an empty line loses that line end
  // to the dropping of leading line ends and so runs on.
  EXPECT_EQ(Find(head + "\n--b\nrest", kPlain), "--b\r\nrest");

  // An HTML document runs to the end; other HTML ends as text does.
  const std::string html = "X: y\nContent-Type: text/html\n\n";
  EXPECT_EQ(Find(html + "<HTML><B>Hi</B>\n--b--\n", "content-type: text/html"),
            "<html><b>hi</b>\r\n--b--\r\n");
  EXPECT_EQ(Find(html + "<!DOCTYPE html>\n--b\n", "content-type: text/html"),
            "<!doctype html>\r\n--b\r\n");
  EXPECT_EQ(Find(html + "<p>Hi</p>\n--b\n", "content-type: text/html"), "<p>hi</p>");
}

TEST(ExtractMessageText, ChoosesThePart) {
  const std::string both =
      "From: a@b.example\nContent-Type: multipart/alternative; boundary=b\n\n--b\n"
      "Content-Type: text/plain\n\nPlain Words\n--b\nContent-Type: text/html\n\n"
      "<html><b>Html</b> markup</html>\n--b--\n";
  Extracted e = Extract(both, "Subject Line");
  EXPECT_EQ(e.text, "plain words");
  EXPECT_EQ(e.tokens, "line plain subject word ");

  const std::size_t plainAt = both.find("Content-Type: text/plain");
  e = Extract(both.substr(0, plainAt) + both.substr(both.find("--b\nContent-Type: text/html")));
  EXPECT_NE(e.text.find("html markup"), std::string::npos) << e.text;
  EXPECT_EQ(e.text.find('<'), std::string::npos) << e.text;

  // No part: empty text, tokens of the subject alone.
  e = Extract("no line end at all", "Cash NOW");
  EXPECT_EQ(e.text, "");
  EXPECT_EQ(e.tokens, "cash now ");
}

TEST(ExtractMessageText, TransferEncodingsAndCharacterSets) {
  const auto text = [](std::string_view type, std::string_view body) {
    return Extract(Message(type, body)).text;
  };
  // Without encoding or charset the text is the part as written, lowered,
  // however long.
  const std::string plain = Message("Content-Type: text/plain; charset=us-ascii", "A=ZZ Caf\xE9");
  EXPECT_EQ(Extract(plain).text, *Find(plain, kPlain));
  const std::string words(3u << 20, 'w');
  EXPECT_EQ(text("Content-Type: text/plain", words + "\nEnd"), words + "\r\nend");
  const std::string b64 = "Content-Type: text/plain\nContent-Transfer-Encoding: base64";
  EXPECT_EQ(text(b64, "SGVs\nbG8gV29y bGQh\n"), "hello world!");
  // Encoding line before the content type, in the same header block.
  EXPECT_EQ(text("Content-Transfer-Encoding: BASE64\nContent-Type: text/plain", "SGk=\n"), "hi");
  // The block starts at the boundary line: the outer header is not the part's.
  EXPECT_EQ(Extract("From: a\nContent-Transfer-Encoding: base64\n\n--b\nContent-Type: text/plain\n"
                    "\nSGk=\n--b--\n")
                .text,
            "sgk=");
  const std::string qp =
      "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable";
  EXPECT_EQ(text(qp, "Caf=C3=A9 tr=\nes =3D=c3=a9 =  \nbien=\n"),
            "caf\xC3\xA9 tres =\xC3\xA9 bien");
  // Broken encodings give the part as written.
  EXPECT_EQ(text(b64, "SGVsbG8*"), "sgvsbg8*");
  EXPECT_EQ(text(b64, "SGVsb"), "sgvsb");
  EXPECT_EQ(text(qp, "A=ZZ b"), "a=zz b");
  // An HTML part is decoded before it is converted.
  EXPECT_EQ(text("Content-Type: text/html\nContent-Transfer-Encoding: base64", "PGI+SGk8L2I+"),
            "hi");
  // Named charsets are converted to UTF-8.
  EXPECT_EQ(text("Content-Type: text/plain; charset=ISO-8859-1", "Caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(text("Content-Type: text/plain;\n\tcharset=\"windows-1252\"", "\x93Hi\x94 \x80"),
            "\xE2\x80\x9Chi\xE2\x80\x9D \xE2\x82\xAC");
  // Lowering is ASCII only: its edges, and Cyrillic capitals stay capitals.
  EXPECT_EQ(text("Content-Type: text/plain", "AZaz@[`{ \xC4"), "azaz@[`{ \xC4");
  EXPECT_EQ(text("Content-Type: text/plain; charset=koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4 OK"),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ok");
  EXPECT_EQ(text("Content-Type: text/plain; name=\"a charset=koi8-r\"; charset=latin1", "\xE9"),
            "\xC3\xA9");
  EXPECT_EQ(text("Content-Type: text/plain; charset=x-unknown", "Caf\xE9"), "caf\xE9");
  // A byte the charset leaves undefined costs one replacement character.
  EXPECT_EQ(text("Content-Type: text/plain; charset=windows-1252", "a\x81Z"), "a\xEF\xBF\xBDz");
  // Decoded first, converted second; and on to the HTML converter.
  EXPECT_EQ(text("Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: "
                 "base64",
                 "Q2Fm6Q=="),
            "caf\xC3\xA9");
  EXPECT_EQ(text("Content-Type: text/html; charset=iso-8859-1\nContent-Transfer-Encoding: "
                 "quoted-printable",
                 "<b>Caf=E9</b>"),
            "caf\xC3\xA9");
}

TEST(Decode, Base64PaddingCharsetNamesAndNarrowing) {
  std::string out;
  EXPECT_TRUE(DecodeBase64("YQ==Yg==", out));  // padded blocks one after another
  EXPECT_EQ(out, "ab");
  EXPECT_TRUE(DecodeBase64("YWI", out));  // padding missing at the end
  EXPECT_EQ(out, "ab");
  EXPECT_FALSE(DecodeBase64("YWJjZ", out));  // a lone sextet
  EXPECT_FALSE(DecodeBase64("Y=Fh", out));
  EXPECT_FALSE(ConvertToUtf8("x", "utf-8//translit", out));
  // A text left in a shifted state does not shift the next one.
  for (const char* charset : {"ISO-2022-JP", "iso-2022-jp"}) {
    EXPECT_TRUE(ConvertToUtf8("\x1b$B\x24\x22", charset, out));
    EXPECT_EQ(out, "\xE3\x81\x82");
    EXPECT_TRUE(ConvertToUtf8("AB", charset, out));
    EXPECT_EQ(out, "AB");
  }

  EXPECT_EQ(NarrowLowBytes(u"Monday, May 06, 2024"), "Monday, May 06, 2024");
  EXPECT_EQ(NarrowLowBytes(u"\u00E9\u0141x"), "\xE9\x41x");  // high bytes dropped
  EXPECT_EQ(NarrowLowBytes(std::u16string_view(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(NarrowLowBytes(u"ab\u0100cd"), "ab");  // a zero low byte ends the text
}

}  // namespace
}  // namespace varnox
