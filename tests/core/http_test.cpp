#include "core/http.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Segments = std::vector<std::string>;
using Fields = std::map<std::string, std::string>;

/// The request of a complete head, or a failure naming what came back instead.
testing::AssertionResult parsesAsRequest(std::string_view buffer, HTTPRequest& request,
                                         std::size_t& headerLength) {
    const HTTPParseResult result = HTTP::parse(buffer);
    if (const auto* parsed = result.request()) {
        request = parsed->request;
        headerLength = parsed->headerLength;
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << (result.isInvalid() ? "Invalid" : "Incomplete");
}

HTTPRequest requestFor(std::string_view target) {
    HTTPRequest request;
    std::size_t headerLength = 0;
    EXPECT_TRUE(parsesAsRequest("GET " + std::string(target) + " HTTP/1.1\r\n\r\n", request, headerLength))
        << target;
    return request;
}

std::string headWithTarget(std::string_view target) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

std::optional<std::int64_t> contentLengthOf(std::string_view value) {
    HTTPRequest request;
    request.headers["content-length"] = std::string(value);
    return request.contentLength();
}

/// A request line padded with one header so that the blank line starts at exactly `offset`.
std::string headOfLength(std::size_t offset) {
    std::string head = "GET / HTTP/1.1\r\nX-Pad: ";
    head.append(offset - head.size(), 'a');
    return head + "\r\n\r\n";
}

} // namespace

TEST(HTTPParseTest, MinimalRequest) {
    HTTPRequest request;
    std::size_t headerLength = 0;
    ASSERT_TRUE(parsesAsRequest("GET / HTTP/1.1\r\n\r\n", request, headerLength));
    EXPECT_EQ(request.method, "GET");
    EXPECT_TRUE(request.segments.empty());
    EXPECT_TRUE(request.query.empty());
    EXPECT_TRUE(request.headers.empty());
    EXPECT_FALSE(request.hasTrailingSlash);
    EXPECT_EQ(headerLength, 18u);
}

TEST(HTTPParseTest, LowerCaseMethodRunsOfSpacesAndTrailingSlash) {
    HTTPRequest request;
    std::size_t headerLength = 0;
    ASSERT_TRUE(parsesAsRequest("get  /s/abc/  HTTP/1.0\r\nHost: x\r\n\r\n", request, headerLength));
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.segments, (Segments{"s", "abc"}));
    EXPECT_TRUE(request.hasTrailingSlash);
    EXPECT_EQ(request.headers, (Fields{{"host", "x"}}));
}

TEST(HTTPParseTest, RefusesHeadsThatCanNeverBeServed) {
    struct Case {
        std::string label;
        std::string head;
    };
    const std::vector<Case> cases = {
        {"HTTP/2", "GET / HTTP/2\r\n\r\n"},
        {"HTTP/1 without minor", "GET / HTTP/1\r\n\r\n"},
        {"lower-case version", "GET / http/1.1\r\n\r\n"},
        {"two tokens", "GET /\r\n\r\n"},
        {"four tokens", "GET / x HTTP/1.1\r\n\r\n"},
        {"tab is no separator", "GET\t/ HTTP/1.1\r\n\r\n"},
        {"empty head", "\r\n\r\n"},
        {"header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n"},
        {"folded header", "GET / HTTP/1.1\r\nX-A: 1\r\n  more\r\n\r\n"},
        {"dot-dot upper escapes", headWithTarget("/s/%2E%2E/x")},
        {"dot-dot lower escapes", headWithTarget("/s/%2e%2e/x")},
        {"dot-dot half escaped", headWithTarget("/s/.%2e/x")},
        {"dot-dot", headWithTarget("/..")},
        {"dot-dot with trailing slash", headWithTarget("/a/../")},
        {"absolute form", headWithTarget("http://x/")},
        {"asterisk form", headWithTarget("*")},
        {"authority form", headWithTarget("x:80")},
        {"pipe", headWithTarget("/a|b")},
        {"double quote", headWithTarget("/a\"b")},
        {"angle bracket", headWithTarget("/a<b")},
        {"backslash", headWithTarget("/a\\b")},
        {"caret in query", headWithTarget("/a?x=^")},
        {"brace in fragment", headWithTarget("/a#{")},
        {"second hash", headWithTarget("/a#b#c")},
        {"raw UTF-8 in target", headWithTarget("/caf\xC3\xA9")},
        {"control in target", headWithTarget("/a\x01")},
        {"bad escape", headWithTarget("/a%zz")},
        {"half escape", headWithTarget("/a%4")},
        {"escape cut at end", headWithTarget("/a%")},
        {"bad escape in query", headWithTarget("/a?q=%g1")},
        {"NUL escape", headWithTarget("/a%00b")},
        {"NUL escape beside invalid UTF-8", headWithTarget("/%00%FF")},
        {"invalid UTF-8 byte", "GET / HTTP/1.1\r\nX-A: \xFF\r\n\r\n"},
        {"overlong slash", "GET / HTTP/1.1\r\nX-A: \xC0\xAF\r\n\r\n"},
        {"surrogate", "GET / HTTP/1.1\r\nX-A: \xED\xA0\x80\r\n\r\n"},
        {"past U+10FFFF", "GET / HTTP/1.1\r\nX-A: \xF4\x90\x80\x80\r\n\r\n"},
        {"truncated sequence", "GET / HTTP/1.1\r\nX-A: \xE2\x82\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_TRUE(HTTP::parse(c.head).isInvalid());
    }
}

TEST(HTTPParseTest, AcceptsValidUTF8InHeaderValues) {
    HTTPRequest request;
    std::size_t headerLength = 0;
    ASSERT_TRUE(parsesAsRequest("GET / HTTP/1.1\r\nX-Name: R\xC3\xA9sum\xC3\xA9 \xF0\x9F\x93\x84\r\n\r\n",
                                request, headerLength));
    EXPECT_EQ(request.headers["x-name"], "R\xC3\xA9sum\xC3\xA9 \xF0\x9F\x93\x84");
}

TEST(HTTPParseTest, SegmentsFromTheRawPath) {
    struct Case {
        std::string target;
        Segments segments;
        bool hasTrailingSlash;
    };
    const std::vector<Case> cases = {
        {"/", {}, false},
        {"//", {}, true},
        {"//a//b", {"a", "b"}, false},
        {"/s/a%2Fb", {"s", "a/b"}, false},
        {"/a/./b", {"a", ".", "b"}, false},
        {"/a/%2E/b", {"a", ".", "b"}, false},
        {"/.../x", {"...", "x"}, false},
        {"/%FF", {"%FF"}, false},
        {"/a/%C3%A9t%C3%A9/", {"a", "\xC3\xA9t\xC3\xA9"}, true},
        {"/a%20b", {"a b"}, false},
        {"/a+b", {"a+b"}, false},
        {"/x:y@z!$&'()*+,;=-._~", {"x:y@z!$&'()*+,;=-._~"}, false},
        {"/s/abc?x=1", {"s", "abc"}, false},
        {"/s/abc/?x=1", {"s", "abc"}, true},
        {"/s/abc#top", {"s", "abc"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const HTTPRequest request = requestFor(c.target);
        EXPECT_EQ(request.segments, c.segments);
        EXPECT_EQ(request.hasTrailingSlash, c.hasTrailingSlash);
    }
}

TEST(HTTPParseTest, QueryItems) {
    struct Case {
        std::string target;
        Fields query;
    };
    const std::vector<Case> cases = {
        {"/?a=1&a=2&b", {{"a", "2"}, {"b", ""}}},
        {"/?q=a+b", {{"q", "a+b"}}},
        {"/?q=caf%C3%A9%20au%26lait&n%61me=x", {{"q", "caf\xC3\xA9 au&lait"}, {"name", "x"}}},
        {"/?q=%FF", {{"q", "%FF"}}},
        {"/?a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
        {"/?a=b=c", {{"a", "b=c"}}},
        {"/?=v", {{"", "v"}}},
        {"/?u=/x?y:z@", {{"u", "/x?y:z@"}}},
        {"/?a=1#b=2", {{"a", "1"}}},
        {"/?a=1#frag/?", {{"a", "1"}}},
        {"/p#?a=1", {}},
        {"/?", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(requestFor(c.target).query, c.query);
    }
}

TEST(HTTPParseTest, HeadSizeLimits) {
    constexpr std::size_t limit = HTTP::maxHeaderBytes;
    EXPECT_TRUE(HTTP::parse(std::string(limit, 'a')).isIncomplete());
    EXPECT_TRUE(HTTP::parse(std::string(limit + 1, 'a')).isInvalid());
    EXPECT_TRUE(HTTP::parse("GET / HTTP/1.1\r\n").isIncomplete());
    EXPECT_TRUE(HTTP::parse("").isIncomplete());

    const std::string atLimit = headOfLength(limit);
    ASSERT_EQ(atLimit.find("\r\n\r\n"), limit);
    const HTTPParseResult accepted = HTTP::parse(atLimit);
    ASSERT_NE(accepted.request(), nullptr);
    EXPECT_EQ(accepted.request()->headerLength, limit + 4);
    EXPECT_EQ(accepted.request()->request.headers.at("x-pad").size(), limit - 23);

    const std::string overLimit = headOfLength(limit + 1);
    ASSERT_EQ(overLimit.find("\r\n\r\n"), limit + 1);
    EXPECT_TRUE(HTTP::parse(overLimit).isInvalid());
    // The verdict must not depend on how much of the body has arrived with the head.
    EXPECT_TRUE(HTTP::parse(overLimit + std::string(100000, 'b')).isInvalid());
}

TEST(HTTPParseTest, EveryPrefixOfAHeadIsIncomplete) {
    const std::string head = "POST /u/tok?name=a.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\n";
    for (std::size_t length = 0; length < head.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_TRUE(HTTP::parse(std::string_view(head).substr(0, length)).isIncomplete());
    }
}

TEST(HTTPParseTest, HeaderLengthPointsAtTheBody) {
    const std::string head = "POST /u HTTP/1.1\r\nContent-Length: 12\r\n\r\n";
    // The body itself holds a blank line: only the first one ends the head.
    const std::string buffer = head + "body\r\n\r\nmore";
    HTTPRequest request;
    std::size_t headerLength = 0;
    ASSERT_TRUE(parsesAsRequest(buffer, request, headerLength));
    EXPECT_EQ(headerLength, head.size());
    EXPECT_EQ(buffer.substr(headerLength), "body\r\n\r\nmore");
    EXPECT_EQ(request.contentLength(), 12);
}

TEST(HTTPParseTest, HeaderFields) {
    HTTPRequest request;
    std::size_t headerLength = 0;
    ASSERT_TRUE(parsesAsRequest("GET / HTTP/1.1\r\n"
                                " \tX-Token\t : \t abc def \t\r\n"
                                "HOST: first\r\n"
                                "host:second\r\n"
                                "Referer: http://a:8080/x\r\n"
                                "Empty:\r\n"
                                "\r\n",
                                request, headerLength));
    EXPECT_EQ(
        request.headers,
        (Fields{{"x-token", "abc def"}, {"host", "second"}, {"referer", "http://a:8080/x"}, {"empty", ""}}));
}

TEST(HTTPRequestTest, ContentLength) {
    struct Case {
        std::string value;
        std::optional<std::int64_t> expected;
    };
    const std::vector<Case> cases = {
        {"12", 12},
        {"+12", 12},
        {"0", 0},
        {"007", 7},
        {"-5", -5},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"", std::nullopt},
        {"1 2", std::nullopt},
        {" 12", std::nullopt},
        {"12abc", std::nullopt},
        {"0x10", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"--1", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(contentLengthOf(c.value), c.expected);
    }
    EXPECT_EQ(HTTPRequest{}.contentLength(), std::nullopt);
}

TEST(HTTPRangeTest, DecidesRangesForAThousandBytes) {
    struct Case {
        std::optional<std::string> value;
        ByteRangeResult expected;
    };
    const auto partial = ByteRangeResult::partial;
    const ByteRangeResult whole = ByteRangeResult::whole();
    const ByteRangeResult unsatisfiable = ByteRangeResult::unsatisfiable();
    const std::vector<Case> cases = {
        {"bytes=0-", partial(0, 999)},
        {"bytes=100-199", partial(100, 199)},
        {"bytes=999-999", partial(999, 999)},
        {"bytes=900-5000", partial(900, 999)},
        {"bytes=+10-+20", partial(10, 20)},
        {"bytes=-100", partial(900, 999)},
        {"bytes=-1", partial(999, 999)},
        {"bytes=-1000", partial(0, 999)},
        {"bytes=-5000", partial(0, 999)},
        {"bytes=1000-", unsatisfiable},
        {"bytes=500-100", unsatisfiable},
        {"bytes=-0", unsatisfiable},
        {"bytes=-", unsatisfiable},
        {"bytes= 0-1", unsatisfiable},
        {"bytes=0- 1", unsatisfiable},
        {"bytes=0-abc", unsatisfiable},
        {"bytes=+-5", unsatisfiable},
        {"bytes=--5", unsatisfiable},
        {"bytes=5--1", unsatisfiable},
        {"bytes=99999999999999999999-", unsatisfiable},
        {"bytes=0-99999999999999999999", unsatisfiable},
        {"bytes=-99999999999999999999", unsatisfiable},
        {"bytes=0-1,5-6", whole},
        {"bytes=0-1,", whole},
        {"items=0-1", whole},
        {"Bytes=0-1", whole},
        {" bytes=0-1", whole},
        {"bytes=5", whole},
        {"bytes=", whole},
        {"", whole},
        {std::nullopt, whole},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(absent)"));
        EXPECT_EQ(HTTP::range(c.value, 1000), c.expected);
    }
}

TEST(HTTPRangeTest, NothingIsSatisfiableInAnEmptyFile) {
    for (const char* value : {"bytes=0-", "bytes=0-0", "bytes=0-10", "bytes=5-", "bytes=-1", "bytes=-100"}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(HTTP::range(std::string(value), 0), ByteRangeResult::unsatisfiable());
    }
}

TEST(HTTPRangeTest, ExtremeSizesStayInBounds) {
    EXPECT_EQ(HTTP::range("bytes=0-", INT64_MAX), ByteRangeResult::partial(0, INT64_MAX - 1));
    EXPECT_EQ(HTTP::range("bytes=-9223372036854775807", INT64_MAX),
              ByteRangeResult::partial(0, INT64_MAX - 1));
    EXPECT_EQ(HTTP::range("bytes=-9223372036854775807", 1), ByteRangeResult::partial(0, 0));
    EXPECT_EQ(HTTP::range("bytes=0-", -1), ByteRangeResult::unsatisfiable());
    EXPECT_EQ(HTTP::range("bytes=-5", -1), ByteRangeResult::unsatisfiable());
}

TEST(HTTPHeadTest, WritesStatusHeadersInOrderAndClose) {
    EXPECT_EQ(
        HTTP::head(416, {{"Content-Range", "bytes */1000"}}),
        "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(HTTP::head(200, {{"Content-Type", "text/plain"}, {"Content-Length", "0"}, {"X-A", "1"}}),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 0\r\nX-A: 1\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(HTTP::head(418, {}), "HTTP/1.1 418 Error\r\nConnection: close\r\n\r\n");
}

TEST(HTTPHeadTest, ReasonPhrases) {
    struct Case {
        int status;
        std::string_view reason;
    };
    const std::vector<Case> cases = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {400, "Bad Request"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {410, "Gone"},
        {413, "Payload Too Large"},
        {416, "Range Not Satisfiable"},
        {418, "Error"},
        {500, "Error"},
        {0, "Error"},
        {-200, "Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(HTTP::reason(c.status), c.reason);
    }
}

TEST(HTTPMimeTypeTest, ByLastExtension) {
    struct Case {
        std::string name;
        std::string_view type;
    };
    const std::vector<Case> cases = {
        {"Photo.JPG", "image/jpeg"},
        {"a.jpeg", "image/jpeg"},
        {"a.png", "image/png"},
        {"a.gif", "image/gif"},
        {"IMG_1.HEIC", "image/heic"},
        {"a.webp", "image/webp"},
        {"a.pdf", "application/pdf"},
        {"a.mp4", "video/mp4"},
        {"a.m4v", "video/mp4"},
        {"a.MoV", "video/quicktime"},
        {"a.mp3", "audio/mpeg"},
        {"a.m4a", "audio/mp4"},
        {"a.txt", "text/plain; charset=utf-8"},
        {"notes.md", "text/plain; charset=utf-8"},
        {"a.zip", "application/zip"},
        {"archive.tar.gz", "application/octet-stream"},
        {".png", "application/octet-stream"},
        {"..png", "image/png"},
        {".hidden.png", "image/png"},
        {"dir.d/file", "application/octet-stream"},
        {"dir.pdf/.png", "application/octet-stream"},
        {"dir/photo.png", "image/png"},
        {"png", "application/octet-stream"},
        {"file.", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"a.exe", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HTTP::mimeType(c.name), c.type);
    }
}

TEST(HTTPContentDispositionTest, FallbackAndEncodedNames) {
    struct Case {
        std::string name;
        bool isInline;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"R\xC3\xA9sum\xC3\xA9 final.pdf", false,
         "attachment; filename=\"R_sum_ final.pdf\"; filename*=UTF-8''R%C3%A9sum%C3%A9%20final.pdf"},
        {"photo.jpg", true, "inline; filename=\"photo.jpg\"; filename*=UTF-8''photo.jpg"},
        {"e\xCC\x81", true, "inline; filename=\"e_\"; filename*=UTF-8''e%CC%81"},
        {"\xF0\x9F\x93\x84.txt", false, "attachment; filename=\"_.txt\"; filename*=UTF-8''%F0%9F%93%84.txt"},
        {"a\"b\\c\r\nd\te\x7F", false,
         "attachment; filename=\"a_b_c__d_e_\"; filename*=UTF-8''a%22b%5Cc%0D%0Ad%09e%7F"},
        {"a\xFF\xE2\x82z", false, "attachment; filename=\"a___z\"; filename*=UTF-8''a%FF%E2%82z"},
        {"A-z_0.9~!", false, "attachment; filename=\"A-z_0.9~!\"; filename*=UTF-8''A-z_0.9~%21"},
        {"", true, "inline; filename=\"\"; filename*=UTF-8''"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        EXPECT_EQ(HTTP::contentDisposition(c.name, c.isInline), c.expected);
    }
}

TEST(HTTPContentDispositionTest, NoNameCanBreakTheHeader) {
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte) {
        everyByte += static_cast<char>(byte);
    }
    const std::string value = HTTP::contentDisposition(std::string(1, '\0') + everyByte, false);
    const std::string prefix = "attachment; filename=\"";
    const std::size_t quoteEnd = value.find("\"; filename*=UTF-8''");
    ASSERT_TRUE(value.starts_with(prefix));
    ASSERT_NE(quoteEnd, std::string::npos);
    EXPECT_EQ(value.substr(prefix.size(), quoteEnd - prefix.size()).find_first_of("\"\\"), std::string::npos);
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 && byte < 0x7f) << "byte " << static_cast<int>(byte);
    }
}

TEST(HTTPParseTest, RandomHeadsNeverYieldUnsafeRequests) {
    // Targets and header lines are drawn from pieces that reach deep into the parser (plain random
    // bytes almost never form a head), with now and then a piece or a byte that breaks the syntax;
    // every fourth input is raw bytes only.
    const std::vector<std::string> targetPieces = {
        "/",   "/",      "//", "..", ".", "%2E", "%2e", "%2F", "%00",
        "%FF", "%C3%A9", "a",  "?",  "&", "=",   "#",   "+",   ":",
    };
    const std::vector<std::string> linePieces = {"Host", "Content-Length", ":", " ", "\t", "12", "-", "+",
                                                 "a"};
    const std::vector<std::string> hostilePieces = {"%",  "%z", "|",        "*",       " ",
                                                    "\r", "\n", "\xC3\xA9", "\xC0\xAF"};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> count(0, 12);
    std::uniform_int_distribution<int> percent(0, 99);
    const auto pick = [&](const std::vector<std::string>& pieces) {
        return pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    };
    const auto randomText = [&](const std::vector<std::string>& pieces) {
        std::string text;
        for (int n = count(random); n > 0; --n) {
            const int roll = percent(random);
            text += roll < 3   ? std::string(1, static_cast<char>(byte(random)))
                    : roll < 8 ? pick(hostilePieces)
                               : pick(pieces);
        }
        return text;
    };
    int requests = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string buffer;
        if (round % 4 == 3) {
            for (int n = count(random) * 4; n > 0; --n) {
                buffer += static_cast<char>(byte(random));
            }
        } else {
            buffer = "GET /" + randomText(targetPieces) + " HTTP/1.1\r\n";
            for (int n = count(random) % 3; n > 0; --n) {
                buffer += randomText(linePieces) + ":" + randomText(linePieces) + "\r\n";
            }
            buffer += "\r\n" + randomText(linePieces);
        }
        SCOPED_TRACE(testing::PrintToString(buffer));
        const HTTPParseResult result = HTTP::parse(buffer);
        const auto* parsed = result.request();
        if (parsed == nullptr) {
            continue;
        }
        ++requests;
        ASSERT_LE(parsed->headerLength, buffer.size());
        ASSERT_GE(parsed->headerLength, 4u);
        EXPECT_EQ(buffer.find("\r\n\r\n"), parsed->headerLength - 4);
        for (const auto& segment : parsed->request.segments) {
            EXPECT_NE(segment, "..");
            EXPECT_FALSE(segment.empty());
            EXPECT_EQ(segment.find('\0'), std::string::npos);
        }
        // Bytes after the head must not change the verdict.
        EXPECT_EQ(HTTP::parse(std::string_view(buffer).substr(0, parsed->headerLength)), result);
    }
    // The generator must actually produce requests, or the checks above prove nothing.
    EXPECT_GT(requests, 400);
}

TEST(HTTPPercentDecodedTest, DecodesWhatEncodeURIComponentMakes) {
    EXPECT_EQ(HTTP::percentDecoded("caf%C3%A9%20menu.txt"), "caf\u00e9 menu.txt");
    EXPECT_EQ(HTTP::percentDecoded("a+b"), "a+b");
    EXPECT_EQ(HTTP::percentDecoded(""), "");
    EXPECT_EQ(HTTP::percentDecoded("%2F%2e%2E"), "/..");
    EXPECT_FALSE(HTTP::percentDecoded("bad%zz"));
    EXPECT_FALSE(HTTP::percentDecoded("cut%4"));
    EXPECT_FALSE(HTTP::percentDecoded("%FF%FE")); // not UTF-8
}
