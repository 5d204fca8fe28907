// One page of a web search, through the stand-in host.
#include "search/page_search.h"

#include <clocale>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "results/search_results.h"
#include "serverinfo/server_info.h"
#include "support/failing_allocator.h"
#include "support/search_support.h"

namespace norrow::test {
namespace {

using results::searchResults;

// How the pages of a test are read: the walk, or where the reading tables run
// against both readings, the plain reading too.
search::PageStrategy strategy = search::PageStrategy::kWalk;

int32_t SearchGeocoder(SEARCHREQUEST* request, void* hostContext, int32_t offset) {
    return search::SearchGeocoder(request, hostContext, offset, strategy);
}
int32_t SearchLocal(SEARCHREQUEST* request, void* hostContext, int32_t offset) {
    return search::SearchLocal(request, hostContext, offset, strategy);
}

class PageSearchTest : public PluginTest {
public:
    void SetUp() override {
        PluginTest::SetUp();
        strategy = search::PageStrategy::kWalk;
        UseServerInfo();
        search::geocoderTargetId = 11;
        search::localTargetId = 12;
    }

    static std::string Name(int i) { return searchResults.data[i].name; }
};

// The tables that read answers run against both readings of a page: the walk
// (which falls back on the plain reading where it is unsure) and the plain
// reading alone.
class PageReadingTest : public PageSearchTest, public ::testing::WithParamInterface<bool> {
public:
    void SetUp() override {
        PageSearchTest::SetUp();
        strategy = GetParam() ? search::PageStrategy::kPlain : search::PageStrategy::kWalk;
    }
};

INSTANTIATE_TEST_SUITE_P(BothReadings, PageReadingTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "plain" : "walk");
                         });

// ---- The request ------------------------------------------------------------

TEST_F(PageSearchTest, FirstPageOfTheAddressSearch) {
    Request request("abc");
    QueueGet(Ydf({}, "0"));
    int context = 0;
    ASSERT_EQ(SearchGeocoder(&request.record, &context, 0), 0);

    const auto gets = Calls(StandIn_FnHttpRequest2);
    ASSERT_EQ(gets.size(), 1u);
    const StandIn_HttpRequest& get = gets[0]->http;
    EXPECT_STREQ(get.path, "/geocoder?appid=GEO-ID&query=abc&ei=SJIS&result=10&output=xml");
    EXPECT_STREQ(get.host, "geo.example");
    EXPECT_EQ(get.port, 80);
    EXPECT_EQ(get.timeout, 20000);
    EXPECT_EQ(get.hostContext, &context);
    EXPECT_EQ(get.progress, nullptr);
    EXPECT_EQ(get.header, nullptr);
    EXPECT_EQ(get.body, nullptr);
    EXPECT_EQ(get.referer, nullptr);
    EXPECT_STREQ(get.userAgent, "PlaceNameSearchPlugin/1.0");

    // The host's calls in order: the datum of the active cover map first.
    std::vector<int> functions;
    for (int i = 0; i < StandIn_CallCount(); ++i) functions.push_back(StandIn_GetCall(i)->function);
    EXPECT_EQ(functions, (std::vector<int>{StandIn_FnGetActiveCoverMap, StandIn_FnGetDatum,
                                           StandIn_FnHttpRequest2, StandIn_FnSetSearchURL}));
    EXPECT_EQ(StandIn_GetCall(1)->value, StandIn_GetCall(0)->result) << "the datum of that map";
}

TEST_F(PageSearchTest, ThirdPageOfTheLocalSearchWithABox) {
    Request request("abc");
    request.record.hasBox = 1;
    request.record.box0 = 139.8;       // east
    request.record.box1 = 139.6;       // west
    request.record.box2 = 35.75;       // north
    request.record.box3 = 35.5000004;  // south
    QueueGet(Ydf({}, "0"));
    ASSERT_EQ(SearchLocal(&request.record, nullptr, 20), 0);
    ASSERT_EQ(RequestedPaths().size(), 1u);
    EXPECT_EQ(RequestedPaths()[0],
              "/local?appid=LOCAL-ID&query=abc&bbox=139.600000,35.500000,139.800000,35.750000"
              "&start=21&result=10&output=xml");
    const StandIn_HttpRequest& get = Calls(StandIn_FnHttpRequest2)[0]->http;
    EXPECT_STREQ(get.host, "local.example");
    EXPECT_EQ(get.port, 8080);
    EXPECT_STREQ(get.userAgent, "LocalNameSearchPlugin/1.0");
}

TEST_F(PageSearchTest, BoxWithoutQuery) {
    Request request("");
    request.record.hasBox = 1;
    request.record.box0 = 3;
    request.record.box1 = 1;
    request.record.box2 = 4;
    request.record.box3 = 2;
    QueueGet(Ydf({}, "0"));
    QueueGet(Ydf({}, "0"));
    ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 0);
    request.record.query = nullptr;  // a host may pass no text at all
    ASSERT_EQ(SearchLocal(&request.record, nullptr, 0), 0);
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{
                  "/geocoder?appid=GEO-ID&ei=SJIS&bbox=1.000000,2.000000,3.000000,4.000000"
                  "&datum=wgs&result=10&output=xml",
                  "/local?appid=LOCAL-ID&bbox=1.000000,2.000000,3.000000,4.000000"
                  "&result=10&output=xml"}));
}

TEST_F(PageSearchTest, QueryEncoding) {
    Request request(Sjis(u8"富士 山"));
    QueueGet(Ydf({}, "0"));
    QueueGet(Ydf({}, "0"));
    ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 0);
    ASSERT_EQ(SearchLocal(&request.record, nullptr, 0), 0);
    EXPECT_EQ(RequestedPaths()[0],
              "/geocoder?appid=GEO-ID&query=%95%78%8E%6D+%8E%52&ei=SJIS&result=10&output=xml");
    EXPECT_EQ(RequestedPaths()[1],
              "/local?appid=LOCAL-ID&query=%E5%AF%8C%E5%A3%AB+%E5%B1%B1&result=10&output=xml");
}

TEST_F(PageSearchTest, OverlongQueryIsCut) {
    Request request(std::string(2000, 'q'));
    QueueGet(Ydf({}, "0"));
    ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 0);
    EXPECT_EQ(RequestedPaths()[0], "/geocoder?appid=GEO-ID&query=" + std::string(1023 - 6, 'q') +
                                       "&ei=SJIS&result=10&output=xml");
}

// A host process may run under a locale with a decimal comma.
TEST_P(PageReadingTest, NumbersIgnoreTheProcessLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_ALL, "German_Germany.1252") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale";
    }
    Request request("abc");
    request.record.hasBox = 1;
    request.record.box1 = 139.5;
    QueueGet(Ydf({{"a", "139.5,35.25", "", ""}}, "1"));
    const int32_t total = SearchGeocoder(&request.record, nullptr, 0);
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_EQ(total, 1);
    EXPECT_NE(RequestedPaths()[0].find("bbox=139.500000,0.000000,0.000000,0.000000&"),
              std::string::npos)
        << RequestedPaths()[0];
    EXPECT_EQ(searchResults.data[0].longitude, 139.5);
    EXPECT_EQ(searchResults.data[0].latitude, 35.25);
}

// ---- Refusals and failures -------------------------------------------------------

TEST_F(PageSearchTest, RequestWithoutHeaderTouchesNothing) {
    ASSERT_TRUE(results::AppendSearchResult("kept", "", "", 0, 0, 1));
    Request request;
    request.record.header = 0;
    EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
    EXPECT_EQ(searchResults.size, 1);
    EXPECT_EQ(StandIn_CallCount(), 0);
    EXPECT_EQ(SearchGeocoder(nullptr, nullptr, 0), -1);
}

TEST_F(PageSearchTest, FilteredRequestEmptiesTheStoreThenStops) {
    ASSERT_TRUE(results::AppendSearchResult("old", "", "", 0, 0, 1));
    serverinfo::serverInfo.valid = 0;  // due for a download
    QueuePost("SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\n");
    Request request;
    request.record.filter1 = 0;
    EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
    EXPECT_EQ(searchResults.size, 0);
    EXPECT_EQ(Calls(StandIn_FnHttpProgressPost).size(), 1u);
    EXPECT_TRUE(RequestedPaths().empty());
    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(request.record.resultCount, -1) << "a failing page writes nothing back";

    Request second;
    second.record.filter2 = 1;
    EXPECT_EQ(SearchLocal(&second.record, nullptr, 0), -1);
    Request empty("");
    EXPECT_EQ(SearchLocal(&empty.record, nullptr, 0), -1);
    EXPECT_TRUE(RequestedPaths().empty());
}

TEST_F(PageSearchTest, CommunicationFailures) {
    const struct {
        const char* what;
        bool serverInfoFails;
    } cases[] = {{"server information", true}, {"search request", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StandIn_Reset();
        UseServerInfo();
        if (c.serverInfoFails) serverinfo::serverInfo.valid = 0;  // and no POST answer queued
        StandIn_HttpReply failure{};
        failure.result = 5;
        failure.bytes = "<html>504</html>";  // a buffer the plug-in must release anyway
        failure.length = 16;
        StandIn_QueueReply(StandIn_Get, &failure);
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
        EXPECT_EQ(SearchLocal(&request.record, nullptr, 0), -1);
        EXPECT_EQ(StatusTexts(),
                  (std::vector<std::string>{
                      Sjis(u8"Yahoo!住所検索：通信中にエラーが発生しました."),
                      Sjis(u8"Yahoo!ローカルサーチ：通信中にエラーが発生しました.")}));
        EXPECT_EQ(request.record.resultCount, -1);
    }
}

int FailingAnsi(unsigned codePage, const char* source, int length, char16_t* target, int capacity) {
    if (codePage == platform::kAnsiCodePage) return 0;
    return platform::NativeSystem().multiByteToWide(codePage, source, length, target, capacity);
}

// The query of a local search cannot be converted: a failure, not a served page.
TEST_F(PageSearchTest, LocalQueryConversionFailureIsAFailure) {
    platform::System().multiByteToWide = FailingAnsi;
    Request request("abc");
    EXPECT_EQ(SearchLocal(&request.record, nullptr, 0), -1);
    platform::System().multiByteToWide = platform::NativeSystem().multiByteToWide;
    EXPECT_EQ(StatusTexts(), std::vector<std::string>{Sjis(
                                 u8"Yahoo!ローカルサーチ：文字変換中にエラーが発生しました.")});
    EXPECT_TRUE(RequestedPaths().empty());
    EXPECT_EQ(request.record.resultCount, -1);
}

// ---- Answers --------------------------------------------------------------------

void ExpectThreeHits(const SEARCHREQUEST& request, uint32_t targetId) {
    ASSERT_EQ(request.resultCount, 3);
    ASSERT_EQ(request.results, searchResults.data);
    const SEARCHRESULT* hits = request.results;
    EXPECT_EQ(std::string(hits[0].name), Sjis(u8"富士山"));
    EXPECT_EQ(std::string(hits[0].yomi), Sjis(u8"フジサン"));
    EXPECT_EQ(std::string(hits[0].address), Sjis(u8"静岡県富士宮市"));
    EXPECT_EQ(hits[0].longitude, 138.727363);
    EXPECT_EQ(hits[0].latitude, 35.360626);
    EXPECT_EQ(std::string(hits[1].name), Sjis(u8"富士駅")) << "order of children does not matter";
    EXPECT_EQ(std::string(hits[1].yomi), Sjis(u8"フジエキ"));
    EXPECT_EQ(hits[1].latitude, 35.155);
    EXPECT_EQ(std::string(hits[2].name), Sjis(u8"AT&amp;T ビル")) << "entities stay as they are";
    EXPECT_STREQ(hits[2].yomi, "");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hits[i].targetId, targetId);
        EXPECT_EQ(hits[i].attribute, 919022);
    }
}

TEST_P(PageReadingTest, AnswersInEveryEncoding) {
    for (const char* file : {"ydf/utf8_three_hits_total25.xml", "ydf/sjis_three_hits_total25.xml",
                             "ydf/utf16be_three_hits_total25.xml"}) {
        SCOPED_TRACE(file);
        StandIn_Reset();
        QueueGet(ReadDataFile(file));
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), 25);
        ExpectThreeHits(request.record, 11);
        const auto urls = Calls(StandIn_FnSetSearchURL);
        ASSERT_EQ(urls.size(), 1u);
        EXPECT_EQ(std::string(urls[0]->text), "<https://developer.yahoo.co.jp/sitemap/>" +
                                                  Sjis(u8"Webサービス by Yahoo! JAPAN") + "</>");
        EXPECT_TRUE(Boxes().empty());
    }
}

int FailingUtf8(unsigned codePage, const char* source, int length, char16_t* target, int capacity) {
    if (codePage == platform::kUtf8CodePage) return 0;
    return platform::NativeSystem().multiByteToWide(codePage, source, length, target, capacity);
}

// Each service's boxes, byte for byte, with the stop icon.
TEST_F(PageSearchTest, AnswersThatFailWithABox) {
    constexpr char kAddressOutput[] = u8"Yahoo!住所検索: 出力が異常です.";
    constexpr char kLocalOutput[] = u8"Yahoo!ローカルサーチ: 出力が異常です.";
    const struct {
        int32_t (*search)(SEARCHREQUEST*, void*, int32_t);
        const char* file;
        bool utf8Fails;  // the system cannot convert from UTF-8
        const char* box;
    } cases[] = {
        {SearchLocal, "ydf/sjis_not_ydf_output_error.html", false, kLocalOutput},
        {SearchGeocoder, "ydf/sjis_not_ydf_output_error.html", false, kAddressOutput},
        {SearchLocal, "ydf/utf16be_no_xml_element_output_error.xml", false, kLocalOutput},
        {SearchGeocoder, "ydf/utf16be_no_xml_element_output_error.xml", false, kAddressOutput},
        {SearchGeocoder, "ydf/utf8_three_hits_total25.xml", true,
         u8"Yahoo!住所検索: 文字の変換に失敗しました."},
        {SearchLocal, "ydf/utf8_three_hits_total25.xml", true,
         u8"Yahoo!ローカルサーチ: 文字の変換に失敗しました."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.box);
        PluginTest::SetUp();
        UseServerInfo();
        if (c.utf8Fails) platform::System().multiByteToWide = FailingUtf8;
        QueueGet(ReadDataFile(c.file));
        Request request;
        EXPECT_EQ(c.search(&request.record, nullptr, 0), -1);
        platform::System().multiByteToWide = platform::NativeSystem().multiByteToWide;
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, Sjis(c.box));
        EXPECT_EQ(Boxes()[0].type, 16u);
        EXPECT_EQ(searchResults.size, 0);
        EXPECT_EQ(request.record.resultCount, -1);
        EXPECT_TRUE(Calls(StandIn_FnSetSearchURL).empty());
    }
}

// An answer of nothing, or of one byte, gives no UTF-16 text at all.
TEST_F(PageSearchTest, EmptyAnswersFailTheConversion) {
    const struct {
        const char* what;
        StandIn_HttpReply reply;
    } cases[] = {
        {"no bytes", {0, "", 0, 0, 0, 0}},
        {"one byte", {0, "<", 1, 0, 0, 0}},
        {"negative length", {0, "<YDF></YDF>", 11, 0, 1, -1}},
        {"null buffer", {0, nullptr, 0, 1, 1, 4096}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginTest::SetUp();
        UseServerInfo();
        StandIn_QueueReply(StandIn_Get, &c.reply);
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text, Sjis(u8"Yahoo!住所検索: 文字の変換に失敗しました."));
    }
}

// A UTF-16 answer longer than one piece of the conversion (32,768 units),
// with a surrogate pair just before, across and just after the edge, reads as
// its text says.
TEST_F(PageSearchTest, LongUtf16AnswerReadsWhole) {
    const std::u16string head = u"<xml>x</xml><YDF><ResultInfo><Status>200</Status></ResultInfo>";
    const std::u16string feature = u"<Feature><Name>\U0001F600\u3042</Name></Feature>";
    for (int shift : {-1, 0, 1}) {
        SCOPED_TRACE(shift);
        PluginTest::SetUp();
        UseServerInfo();
        // Blanks between the elements put the first pair's high half at unit 32767 + shift.
        const size_t blanks =
            32767 + shift - head.size() - feature.find(static_cast<char16_t>(0xD83D));
        std::u16string text = head + std::u16string(blanks, u' ');
        while (text.size() < 70000) text += feature;
        text += u"</YDF>";
        std::string bigEndian;
        for (char16_t unit : text) {
            bigEndian += static_cast<char>(unit >> 8);
            bigEndian += static_cast<char>(unit & 0xFF);
        }
        QueueGet(bigEndian);
        Request request;
        ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 0);
        ASSERT_GT(searchResults.size, 1000);
        for (int i = 0; i < searchResults.size; ++i) ASSERT_EQ(Name(i), "??\x82\xA0") << i;
    }
}

TEST_P(PageReadingTest, StatusDecidesBeforeAnyHitIsAppended) {
    for (const char* file : {"ydf/utf8_features_without_resultinfo_service_error.xml",
                             "ydf/utf8_status500_service_error.xml"}) {
        SCOPED_TRACE(file);
        PluginTest::SetUp();
        UseServerInfo();
        QueueGet(ReadDataFile(file));
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
        EXPECT_EQ(searchResults.size, 0);
        EXPECT_EQ(StatusTexts(), std::vector<std::string>{Sjis(
                                     u8"Yahoo!住所検索：Yahoo!サービスがエラーを返しました.")});
    }
}

// A later page without hits succeeds and keeps what the earlier pages found:
// status 404, or a UTF-16 answer with an element named xml and no YDF.
TEST_P(PageReadingTest, PagesWithoutHitsKeepEarlierHits) {
    for (const char* file :
         {"ydf/utf8_status404_total0.xml", "ydf/utf16be_xml_without_ydf_no_hits.xml"}) {
        SCOPED_TRACE(file);
        PluginTest::SetUp();
        UseServerInfo();
        ASSERT_TRUE(results::AppendSearchResult("earlier page", "", "", 0, 0, 11));
        QueueGet(ReadDataFile(file));
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 10), 0);
        EXPECT_EQ(request.record.resultCount, 1);
        EXPECT_EQ(request.record.results, searchResults.data);
        EXPECT_EQ(Calls(StandIn_FnSetSearchURL).size(), 1u);
        EXPECT_TRUE(Boxes().empty());
    }
}

TEST_P(PageReadingTest, LowerCaseDeclarationBeatenByUpperCaseLater) {
    QueueGet(ReadDataFile("ydf/utf8_lowercase_declaration_not_converted.xml"));
    Request request;
    EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), 1);
    EXPECT_EQ(Name(0), "\xE3\x81\x82 UTF-8") << "left as UTF-8 bytes";
}

TEST_P(PageReadingTest, TextsOf1024BytesOrMoreAreAbsent) {
    const std::string name1023(1023, 'n');
    const std::string name1024(1024, 'n');
    QueueGet(Ydf({{name1023, "1,2", "", ""}, {name1024, "3,4", "y", "a"}}, "2"));
    Request request;
    ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 2);
    ASSERT_EQ(searchResults.size, 2);
    EXPECT_EQ(Name(0), name1023);
    EXPECT_EQ(Name(1), "");
    EXPECT_STREQ(searchResults.data[1].yomi, "y");
}

TEST_P(PageReadingTest, Coordinates) {
    const struct {
        const char* text;
        double longitude, latitude;
    } cases[] = {
        {"139.5,35.25", 139.5, 35.25},
        {"1,2,3", 1, 2},
        {" -0.5 , 7e1", -0.5, 70},
        {"abc", 0, 0},
        {"abc,def", 0, 0},
        {"", 0, 0},
        {"139.5", 0, 0},
        {"nan,inf", 0, 0},
        {"-infinity,NaN", 0, 0},
        {"1e999,-1e999", 0, 0},
        {"inf,35.5", 0, 35.5},
    };
    std::vector<Hit> hits;
    for (const auto& c : cases) {
        hits.push_back({"before", "10,20", "", ""});  // a hit with coordinates first
        hits.push_back({"case", c.text, "", ""});
    }
    QueueGet(Ydf(hits, "22"));
    Request request;
    ASSERT_EQ(SearchGeocoder(&request.record, nullptr, 0), 22);
    ASSERT_EQ(searchResults.size, 2 * static_cast<int32_t>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const SEARCHRESULT& hit = searchResults.data[2 * i + 1];
        EXPECT_EQ(hit.longitude, cases[i].longitude) << cases[i].text;
        EXPECT_EQ(hit.latitude, cases[i].latitude) << cases[i].text;
    }
}

TEST_P(PageReadingTest, HugeNumbersSaturate) {
    QueueGet(Ydf(Hits(1), std::string(40, '9')));
    Request request;
    EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), INT32_MAX);
    QueueGet(Ydf(Hits(1), "1", "200" + std::string(40, '0')));
    EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), -1);
}

// Whatever the host delivers, the page answers as the rules say, and the
// store keeps its four lengths equal.
TEST_P(PageReadingTest, HostileAnswers) {
    std::string nested;
    for (int i = 0; i < 100000; ++i) nested += "<Feature>";
    std::string manyFeatures = "<YDF><ResultInfo><Status>200</Status></ResultInfo>";
    for (int i = 0; i < 100000; ++i) manyFeatures += "<Feature><Name>x</Name></Feature>";
    manyFeatures += "</YDF>";
    std::string noise(65536, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) >> 3);
    constexpr int32_t kOutputBox = -1;  // fails with the output box
    const struct {
        std::string answer;
        int32_t result;  // the page's result: the total, or kOutputBox
        int32_t hits;
    } cases[] = {
        // No whole YDF element: read as UTF-16, which holds no element named xml.
        {"<YDF><ResultInfo><Status>200</Sta", kOutputBox, 0},
        {"<YDF>" + nested, kOutputBox, 0},
        // Features that never end hold no hit; there is no total.
        {"<YDF><ResultInfo><Status>200</Status></ResultInfo>" + nested + "</YDF>", 0, 0},
        {manyFeatures, 0, 100000},
        {std::string("\x00<\x00Y\x00"
                     "D",
                     5),  // UTF-16 of odd length
         kOutputBox, 0},
        {noise, kOutputBox, 0},
        // Cut inside a character: the bad bytes become U+FFFD, and no YDF element is left.
        {std::string("<?xml encoding=\"UTF-8\"?><YDF>\xF0\x9F"), kOutputBox, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 40));
        PluginTest::SetUp();
        UseServerInfo();
        QueueGet(c.answer);
        Request request;
        EXPECT_EQ(SearchGeocoder(&request.record, nullptr, 0), c.result);
        EXPECT_EQ(searchResults.size, c.hits);
        EXPECT_EQ(results::NameList.size(), searchResults.size);
        EXPECT_EQ(request.record.resultCount, c.result >= 0 ? c.hits : -1);
        EXPECT_EQ(Boxes().size(), c.result >= 0 ? 0u : 1u);
        if (c.result < 0 && !Boxes().empty()) {
            EXPECT_EQ(Boxes()[0].text, Sjis(u8"Yahoo!住所検索: 出力が異常です."));
        }
    }
}

// Memory can run out at any allocation of a page, the download of the server
// information included: the page fails with the service's memory box, the
// store keeps equal lengths, the request is not written, the next page works,
// and nothing leaks (checked by the sanitizer build).
TEST_P(PageReadingTest, RunningOutOfMemoryAnywhere) {
    const std::string answer = ReadDataFile("ydf/utf8_three_hits_total25.xml");
    const struct {
        const char* what;
        int32_t (*search)(SEARCHREQUEST*, void*, int32_t);
        bool download;
        const char* box;
    } cases[] = {
        {"address search", SearchGeocoder, false, u8"Yahoo!住所検索: メモリの確保に失敗しました."},
        {"address search with the download", SearchGeocoder, true,
         u8"Yahoo!住所検索: メモリの確保に失敗しました."},
        {"local search", SearchLocal, false, u8"Yahoo!ローカルサーチ: メモリの確保に失敗しました."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string box = Sjis(c.box);
        long points = 0;
        for (long failAt = 1;; ++failAt) {
            PluginTest::SetUp();
            UseServerInfo();
            if (c.download) {
                serverinfo::serverInfo.valid = 0;
                QueuePost(
                    "SERVERINFO\nGEOCODER geo.example,/geocoder,,80,GEO-ID\n"
                    "LOCALSEARCH local.example,/local,,80,LOCAL-ID\n"
                    "USER_MESSAGE maintenance_tonight\n");
            }
            QueueGet(answer);
            Request request;
            int32_t result;
            {
                FailingAllocations failing(failAt);
                result = c.search(&request.record, nullptr, 0);
            }
            EXPECT_EQ(results::NameList.size(), searchResults.size);
            EXPECT_EQ(results::YomiList.size(), searchResults.size);
            EXPECT_EQ(results::AddressList.size(), searchResults.size);
            if (result == 25) break;
            ASSERT_EQ(result, -1) << failAt;
            EXPECT_EQ(request.record.resultCount, -1);
            ASSERT_FALSE(Boxes().empty()) << failAt;
            EXPECT_EQ(Boxes().back().text, box) << failAt;
            EXPECT_EQ(Boxes().back().type, 16u);
            if (!c.download) {
                QueueGet(answer);
                EXPECT_EQ(c.search(&request.record, nullptr, 0), 25) << "the next page, " << failAt;
                EXPECT_EQ(request.record.resultCount, 3);
            }
            ++points;
            ASSERT_LT(failAt, 2000);
        }
        EXPECT_GT(points, 5);
        std::printf("[ fault injection ] %s: fails at each of %ld allocations\n", c.what, points);
    }
}

}  // namespace
}  // namespace norrow::test
