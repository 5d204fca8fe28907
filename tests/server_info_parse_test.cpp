// Reading the server-information text.
#include <gtest/gtest.h>

#include <string>

#include "serverinfo/server_info.h"

namespace norrow::test {
namespace {

using serverinfo::ParseServerInfo;
using serverinfo::ServerInfo;
using serverinfo::ServiceEndpoint;

// State from an earlier download, so that we see what a line leaves alone.
ServerInfo Earlier() {
    ServerInfo info;
    info.geocoder = {"old-host", "/old", "old-ref", "old-id", 81};
    info.localSearch = {"old-host2", "/old2", "old-ref2", "old-id2", 82};
    info.maxPage = 5;
    return info;
}

struct Parsed {
    ServerInfo info;
    std::string message;
};

Parsed Parse(const std::string& answer) {
    Parsed parsed{Earlier(), ""};
    ParseServerInfo(answer.data(), static_cast<int32_t>(answer.size()), parsed.info,
                    parsed.message);
    return parsed;
}

void ExpectEndpoint(const ServiceEndpoint& actual, const ServiceEndpoint& expected) {
    EXPECT_EQ(actual.host, expected.host);
    EXPECT_EQ(actual.path, expected.path);
    EXPECT_EQ(actual.referer, expected.referer);
    EXPECT_EQ(actual.appid, expected.appid);
    EXPECT_EQ(actual.port, expected.port);
}

TEST(ParseServerInfo, LinesAndEndpoints) {
    const ServiceEndpoint full{"geo.example", "/geo", "ref", "key", 8080};
    const ServiceEndpoint old = Earlier().geocoder;
    const struct {
        const char* name;
        std::string answer;
        int valid;
        ServiceEndpoint geocoder;
    } cases[] = {
        {"CR LF", "SERVERINFO\r\nGEOCODER geo.example,/geo,ref,8080,key\r\n", 1, full},
        {"LF", "SERVERINFO\nGEOCODER geo.example,/geo,ref,8080,key\n", 1, full},
        {"no final LF", "SERVERINFO\nGEOCODER geo.example,/geo,ref,8080,key", 1, full},
        {"blanks, lower case, =", "  serverinfo = x\ngeocoder = geo.example,/geo,ref,8080,key", 1,
         full},
        {"empty first line", "\nGEOCODER geo.example,/geo,ref,8080,key", 0, old},
        {"other first line", "HELLO\nGEOCODER geo.example,/geo,ref,8080,key", 0, old},
        {"one comma", "SERVERINFO\nGEOCODER=h,a", 1, {"h", "/old", "old-ref", "a", 81}},
        {"key alone", "SERVERINFO\nGEOCODER", 1, {"old-host", "/old", "old-ref", "", 81}},
        {"six fields", "SERVERINFO\nGEOCODER a,b,c,1,d,e", 1, {"a", "b", "c", "d,e", 1}},
        {"blanks kept at the end",
         "SERVERINFO\nGEOCODER a,b,c,1,d  ",
         1,
         {"a", "b", "c", "d  ", 1}},
        {"only one CR removed", "SERVERINFO\r\r\nGEOCODER a,b,c,1,d", 0, old},
        {"line ends at NUL",
         std::string("SERVERINFO\nGEOCODER a,b,c,1,d\0,junk\n", 36),
         1,
         {"a", "b", "c", "d", 1}},
        {"port read as atoi", "SERVERINFO\nGEOCODER a,b,c, 443x,d", 1, {"a", "b", "c", "d", 443}},
        {"huge port saturates",
         "SERVERINFO\nGEOCODER a,b,c,99999999999999999999,d",
         1,
         {"a", "b", "c", "d", INT32_MAX}},
        {"only SERVERINFO", "SERVERINFO\r\n", 0, old},
        {"DENIED after endpoint keeps it",
         "SERVERINFO\nGEOCODER a,b,c,1,d\nDENIED",
         0,
         {"a", "b", "c", "d", 1}},
        {"ACCEPT 0", "SERVERINFO\nGEOCODER a,b,c,1,d\nACCEPT 0", 0, {"a", "b", "c", "d", 1}},
        {"ACCEPT empty", "SERVERINFO\nGEOCODER a,b,c,1,d\nACCEPT", 0, {"a", "b", "c", "d", 1}},
        {"ACCEPT no", "SERVERINFO\nGEOCODER a,b,c,1,d\nACCEPT no", 0, {"a", "b", "c", "d", 1}},
        {"ACCEPT 1", "SERVERINFO\nACCEPT 1\nGEOCODER a,b,c,1,d", 1, {"a", "b", "c", "d", 1}},
        {"stop hides later lines", "SERVERINFO\nDENIED\nGEOCODER a,b,c,1,d", 0, old},
        {"unknown keys",
         "SERVERINFO\nFOO 1\n= x\nAUTH_MESSAGE hi\nSERVERINFO\nGEOCODER a,b,c,1,d",
         1,
         {"a", "b", "c", "d", 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed parsed = Parse(c.answer);
        EXPECT_EQ(parsed.info.valid, c.valid);
        ExpectEndpoint(parsed.info.geocoder, c.geocoder);
        ExpectEndpoint(parsed.info.localSearch, Earlier().localSearch);
    }
}

TEST(ParseServerInfo, LocalSearchAloneMakesItValid) {
    const Parsed parsed = Parse("SERVERINFO\nLOCALSEARCH l.example,/local,r,80,id1,id2\n");
    EXPECT_EQ(parsed.info.valid, 1);
    ExpectEndpoint(parsed.info.localSearch, {"l.example", "/local", "r", "id1,id2", 80});
    ExpectEndpoint(parsed.info.geocoder, Earlier().geocoder);
}

TEST(ParseServerInfo, MaxPage) {
    const struct {
        const char* line;
        int32_t maxPage;
    } cases[] = {
        {"MAXPAGE 3", 3},   {"maxpage=0", 0},
        {"MAXPAGE -2", -2}, {"MAXPAGE abc", 0},
        {"MAXPAGE", 0},     {"MAXPAGE 1234567890123456789012345678901234567890", INT32_MAX},
    };
    for (const auto& c : cases) {
        const Parsed parsed = Parse(std::string("SERVERINFO\nGEOCODER a,b,c,1,d\n") + c.line);
        EXPECT_EQ(parsed.info.maxPage, c.maxPage) << c.line;
        EXPECT_EQ(parsed.info.geocoder.appid, "d") << "MAXPAGE changes nothing else";
    }
}

TEST(ParseServerInfo, UserMessage) {
    EXPECT_EQ(Parse("SERVERINFO\nUSER_MESSAGE Hello_World").message, "Hello\nWorld");
    EXPECT_EQ(Parse("SERVERINFO\nUSER_MESSAGE one\nUSER_MESSAGE two").message, "two");
    // The katakana da is 0x83 0x5F: its second byte is no underscore.
    EXPECT_EQ(Parse("SERVERINFO\nUSER_MESSAGE \x83\x5F_x").message, "\x83\x5F\nx");
    const Parsed denied = Parse("SERVERINFO\nUSER_MESSAGE Bye\nDENIED\nUSER_MESSAGE later");
    EXPECT_EQ(denied.message, "Bye");
    EXPECT_EQ(denied.info.valid, 0);
}

TEST(ParseServerInfo, LongLinesAreCutAfter1023BytesAndTheNextByteDropped) {
    // Line 2 is 1023 bytes of X, then a byte that is dropped, then the rest
    // of the long line, which is read as a line of its own.
    const std::string answer =
        "SERVERINFO\n" + std::string(1023, 'X') + "Y" + "GEOCODER a,b,c,1,d\n";
    const Parsed parsed = Parse(answer);
    EXPECT_EQ(parsed.info.valid, 1);
    EXPECT_EQ(parsed.info.geocoder.host, "a");

    // A line of exactly 1023 bytes followed by its line feed loses nothing.
    const std::string exact =
        "SERVERINFO\nGEOCODER a,b,c,1," + std::string(1023 - 17, 'k') + "\n" + "MAXPAGE 4\n";
    const Parsed whole = Parse(exact);
    EXPECT_EQ(whole.info.geocoder.appid.size(), 1023u - 17);
    EXPECT_EQ(whole.info.maxPage, 4);
}

TEST(ParseServerInfo, AnyBytesAreReadWithoutHarm) {
    for (int32_t length : {0, -1, -100}) {
        Parsed parsed{Earlier(), ""};
        ParseServerInfo("SERVERINFO\nGEOCODER a,b,c,1,d", length, parsed.info, parsed.message);
        EXPECT_EQ(parsed.info.valid, 0);
        ExpectEndpoint(parsed.info.geocoder, Earlier().geocoder);
    }
    Parsed none{Earlier(), ""};
    ParseServerInfo(nullptr, 50, none.info, none.message);
    EXPECT_EQ(none.info.valid, 0);

    std::string noise(10 * 1024 * 1024, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    // Noise names no endpoint; an endpoint line behind it is still read.
    EXPECT_EQ(Parse("SERVERINFO\n" + noise).info.valid, 0);
    const Parsed noisy = Parse("SERVERINFO\n" + noise + "\nGEOCODER a,b,c,1,d\n");
    EXPECT_EQ(noisy.info.valid, 1);
    EXPECT_EQ(noisy.info.geocoder.host, "a");

    const Parsed longLine = Parse("SERVERINFO\n" + std::string(5000, 'Z') + "\nGEOCODER a,b,c,1,d");
    EXPECT_EQ(longLine.info.valid, 1);
    EXPECT_EQ(Parse(std::string(4096, '\0')).info.valid, 0);
}

}  // namespace
}  // namespace norrow::test
