#include "core/http.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Segments = std::vector<std::string>;
using Fields = std::map<std::string, std::string>;

std::string withTarget(std::string_view target) {
    return "GET " + std::string(target) + " HTTP/1.1\r\n\r\n";
}
std::string withFields(std::string_view fields) {
    return "GET / HTTP/1.1\r\n" + std::string(fields) + "\r\n";
}

} // namespace

TEST(HTTPParseTest, RequestLineHeadersAndWhereTheBodyStarts) {
    const std::string head =
        "get  /s/abc/  HTTP/1.0\r\nX-Token: \t abc\tdef \t\r\nHOST: mac\r\nX-Dup: first\r\n"
        "x-dup:second\r\nEmpty:\r\nContent-Length: 12\r\ncontent-length: 12\r\n"
        "X-Name: R\xC3\xA9sum\xC3\xA9\r\n\r\n";
    // The body itself holds a blank line: only the first one ends the head.
    const HTTPParseResult result = HTTP::parse(head + "body\r\n\r\nmore");
    ASSERT_NE(result.request(), nullptr);
    const HTTPRequest& request = result.request()->request;
    EXPECT_EQ(result.request()->headerLength, head.size());
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.headers, (Fields{{"x-token", "abc\tdef"},
                                       {"host", "mac"},
                                       {"x-dup", "second"},
                                       {"empty", ""},
                                       {"content-length", "12"},
                                       {"x-name", "R\xC3\xA9sum\xC3\xA9"}}));
    EXPECT_EQ(request.contentLength(), 12);
    for (const char* other : {"GET / HTTP/1.9\r\n\r\n", "m-search / HTTP/1.1\r\n\r\n"}) {
        EXPECT_NE(HTTP::parse(other).request(), nullptr) << other;
    }
    // Chunked alone is left to the routes, which answer a missing length.
    const HTTPParseResult chunked = HTTP::parse("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    ASSERT_NE(chunked.request(), nullptr);
    EXPECT_EQ(chunked.request()->request.contentLength(), std::nullopt);
}

TEST(HTTPParseTest, RefusesHeadsThatCanNeverBeServedOrThatTwoParsersCouldReadDifferently) {
    using namespace std::string_literals;
    const std::vector<std::string> heads = {
        "GET / HTTP/2\r\n\r\n", "GET / http/1.1\r\n\r\n", "GET /\r\n\r\n", "GET / x HTTP/1.1\r\n\r\n",
        "GET\t/ HTTP/1.1\r\n\r\n", "GET / HTTP/1.1x\r\n\r\n", "GET / HTTP/1.10\r\n\r\n",
        "GET / HTTP/0.9\r\n\r\n", "GET / HTTP/1.1\r\r\n\r\n", "G(ET / HTTP/1.1\r\n\r\n",
        // Targets that would escape the library, smuggle a header or hide bytes.
        withTarget("/s/%2E%2E/x"), withTarget("/s/.%2e/x"), withTarget("/a/../"), withTarget("http://x/"),
        withTarget("/a|b"), withTarget("/a#b#c"), withTarget("/caf\xC3\xA9"), withTarget("/a%"),
        withTarget("/a?q=%g1"), withTarget("/a%00b"), withTarget("/p/x%0D%0ASet-Cookie:%20a=b"),
        // Fields.
        withFields("Host x\r\n"), withFields("X-A: 1\r\n  more\r\n"), withFields("X-A: \xC0\xAF\r\n"),
        withFields("X-A: \xED\xA0\x80\r\n"), withFields("X-A: \xE2\x82\r\n"), withFields(": value\r\n"),
        withFields("X-A : 1\r\n"), withFields("X A: 1\r\n"), withFields(" X-A: 1\r\n"),
        withFields("X-A: a\rb\r\n"), withFields("X-A: a\nX-B: b\r\n"), withFields("X-A: a\0b\r\n"s),
        withFields("X\0A: b\r\n"s), withFields("X-A: a\x7F\r\n"), withFields("Host: a\r\nHost: a\r\n"),
        withFields("Content-Length: 5\r\nContent-Length: 6\r\n"),
        withFields("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n"),
        withFields("Transfer-Encoding: chunked\r\nContent-Length: 5\r\n")};
    for (const auto& head : heads) {
        EXPECT_TRUE(HTTP::parse(head).isInvalid()) << testing::PrintToString(head);
    }
}

TEST(HTTPParseTest, SegmentsAndQueryFromTheRawTarget) {
    // Target: segments, whether it ends in a slash, query.
    const std::tuple<std::string, Segments, bool, Fields> cases[] = {
        {"//", {}, true, {}},
        {"//a//b", {"a", "b"}, false, {}},
        {"/s/a%2Fb/%2E/%FF#top", {"s", "a/b", ".", "%FF"}, false, {}},
        {"/x:y@z!$&'()*+,;=-._~", {"x:y@z!$&'()*+,;=-._~"}, false, {}},
        {"/s/abc/?x=1", {"s", "abc"}, true, {{"x", "1"}}},
        {"/?a=1&a=2&b&q=a+b&n%61me=x", {}, false, {{"a", "2"}, {"b", ""}, {"q", "a+b"}, {"name", "x"}}},
        {"/?q=caf%C3%A9%20au%26lait", {}, false, {{"q", "caf\xC3\xA9 au&lait"}}},
        {"/?q=%FF&r=a%0D%0Ab", {}, false, {{"q", "%FF"}, {"r", "a\r\nb"}}},
        {"/?a=b=c#b=2", {}, false, {{"a", "b=c"}}},
    };
    for (const auto& [target, segments, hasTrailingSlash, query] : cases) {
        const HTTPParseResult result = HTTP::parse("GET " + target + " HTTP/1.1\r\n\r\n");
        ASSERT_NE(result.request(), nullptr) << target;
        const HTTPRequest& request = result.request()->request;
        EXPECT_EQ(std::tie(request.segments, request.hasTrailingSlash, request.query),
                  std::tie(segments, hasTrailingSlash, query))
            << target;
    }
}

TEST(HTTPParseTest, HeadSizeLimitAndPartialHeads) {
    constexpr std::size_t limit = HTTP::maxHeaderBytes;
    EXPECT_TRUE(HTTP::parse(std::string(limit, 'a')).isIncomplete());
    EXPECT_TRUE(HTTP::parse(std::string(limit + 1, 'a')).isInvalid());
    // A head whose blank line starts exactly at the limit, then one byte past it.
    std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(limit - 23, 'a') + "\r\n\r\n";
    ASSERT_EQ(head.find("\r\n\r\n"), limit);
    ASSERT_NE(HTTP::parse(head).request(), nullptr);
    EXPECT_EQ(HTTP::parse(head).request()->headerLength, limit + 4);
    head.insert(30, "a");
    EXPECT_TRUE(HTTP::parse(head).isInvalid());
    // A head arriving in pieces is never refused before it is whole.
    const std::string upload = "POST /u/tok?name=a.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\n";
    for (std::size_t length = 0; length < upload.size(); ++length) {
        EXPECT_TRUE(HTTP::parse(std::string_view(upload).substr(0, length)).isIncomplete()) << length;
    }
}

TEST(HTTPRequestTest, ContentLengthIsASignedDecimalThatFits) {
    HTTPRequest request;
    EXPECT_EQ(request.contentLength(), std::nullopt);
    for (const auto& [value, length] :
         std::map<std::string, std::int64_t>{{"+12", 12},
                                             {"007", 7},
                                             {"-5", -5},
                                             {"9223372036854775807", INT64_MAX},
                                             {"-9223372036854775808", INT64_MIN}}) {
        request.headers["content-length"] = value;
        EXPECT_EQ(request.contentLength(), length) << value;
    }
    for (const char* value : {"", "1 2", " 12", "+-1", "9223372036854775808"}) {
        request.headers["content-length"] = value;
        EXPECT_EQ(request.contentLength(), std::nullopt) << value;
    }
}

TEST(HTTPRangeTest, ASingleByteRangeWithinTheFileOrNothing) {
    const auto partial = ByteRangeResult::partial;
    const std::tuple<std::string, std::int64_t, ByteRangeResult> cases[] = {
        {"bytes=100-199", 1000, partial(100, 199)},         {"bytes=900-5000", 1000, partial(900, 999)},
        {"bytes=+10-+20", 1000, partial(10, 20)},           {"bytes=-100", 1000, partial(900, 999)},
        {"bytes=0-", INT64_MAX, partial(0, INT64_MAX - 1)}, {"bytes=-9223372036854775807", 1, partial(0, 0)},
    };
    for (const auto& [value, size, expected] : cases) {
        EXPECT_EQ(HTTP::range(value, size), expected) << value << " of " << size;
    }
    for (const char* value : {"bytes=1000-", "bytes=500-100", "bytes=-0", "bytes= 0-1", "bytes=+-5",
                              "bytes=5--1", "bytes=99999999999999999999-"}) {
        EXPECT_EQ(HTTP::range(std::string(value), 1000), ByteRangeResult::unsatisfiable()) << value;
    }
    for (const char* value : {"bytes=0-1,5-6", "items=0-1", " bytes=0-1", "bytes=5"}) {
        EXPECT_EQ(HTTP::range(std::string(value), 1000), ByteRangeResult::whole()) << value;
    }
    EXPECT_EQ(HTTP::range(std::nullopt, 1000), ByteRangeResult::whole());
    EXPECT_EQ(HTTP::range("bytes=0-", 0), ByteRangeResult::unsatisfiable());
    EXPECT_EQ(HTTP::range("bytes=-5", -1), ByteRangeResult::unsatisfiable());
}

TEST(HTTPHeadTest, StatusLineHeadersInOrderAndClose) {
    // A value can never end its line early, whatever a route put into it.
    EXPECT_EQ(
        HTTP::head(301, {{"Location", "/p/a\r\nSet-Cookie: x=y\n"}, {"X-A", std::string("a\tb\0c\x7f", 6)}}),
        "HTTP/1.1 301 Moved Permanently\r\nLocation: /p/aSet-Cookie: x=y\r\nX-A: a\tbc\r\n"
        "Connection: close\r\n\r\n");
    EXPECT_EQ(HTTP::reason(599), "Error");
}

TEST(HTTPHeadTest, FileNamesGiveTheTypeByLastExtensionAndADispositionWithAnASCIIFallback) {
    EXPECT_EQ(HTTP::mimeType("Photo.JPG"), "image/jpeg");
    EXPECT_EQ(HTTP::mimeType(".hidden.png"), "image/png");
    for (const char* name : {"archive.tar.gz", ".png", "dir.pdf/.png", "file."}) {
        EXPECT_EQ(HTTP::mimeType(name), "application/octet-stream") << name;
    }
    EXPECT_EQ(HTTP::contentDisposition("R\xC3\xA9sum\xC3\xA9 final.pdf", true),
              "inline; filename=\"R_sum_ final.pdf\"; filename*=UTF-8''R%C3%A9sum%C3%A9%20final.pdf");
    EXPECT_EQ(HTTP::contentDisposition("a\"b\\c\r\nd\te\x7F", false),
              "attachment; filename=\"a_b_c__d_e_\"; filename*=UTF-8''a%22b%5Cc%0D%0Ad%09e%7F");
}

TEST(HTTPURLTest, URLsAndPercentCoding) {
    EXPECT_EQ(HTTP::url("fe80::1", 65535, "/p/123/"), "http://[fe80::1]:65535/p/123/");
    EXPECT_EQ(HTTP::url("[2001:db8::2]", 1), "http://[2001:db8::2]:1");
    // The neighbours of the letter and digit ranges are escaped like any other byte.
    EXPECT_EQ(HTTP::percentEncoded("Az09-._~/:@[`{ %\u00e9"), "Az09-._~%2F%3A%40%5B%60%7B%20%25%C3%A9");
    EXPECT_EQ(HTTP::percentDecoded("caf%C3%A9%20a+b%2F%2e"), "caf\u00e9 a+b/.");
    for (const char* bad : {"bad%zz", "cut%4", "%FF%FE"}) {
        EXPECT_FALSE(HTTP::percentDecoded(bad)) << bad;
    }
}
