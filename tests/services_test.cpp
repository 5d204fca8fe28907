// The stand-in web services: the gazetteer, the answers, and real HTTP on
// loopback.
#include "services/services.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>

#include "platform/recode.h"
#include "services/gazetteer.h"
#include "support/plugin_test.h"

namespace norrow::test {
namespace {

using tools::AnswerSearch;
using tools::AnswerServerInfo;
using tools::Box;
using tools::Gazetteer;
using tools::Place;

const Gazetteer& Small() {
    static const Gazetteer gazetteer = Gazetteer::Parse(ReadDataFile("gazetteer_small.tsv"));
    return gazetteer;
}

std::vector<std::string> Names(const std::vector<const Place*>& places) {
    std::vector<std::string> names;
    for (const Place* place : places) names.push_back(place->name);
    return names;
}

TEST(Gazetteer, ParsesAndSkipsMalformedLines) {
    EXPECT_EQ(Small().places().size(), 7u);
    EXPECT_EQ(Small().skippedLines(), 1);
    const Place& fuji = Small().places()[3];
    EXPECT_EQ(fuji.name, "富士山");
    EXPECT_EQ(fuji.latitude, 35.360626);
    EXPECT_EQ(fuji.longitude, 138.727363);
}

TEST(Gazetteer, Search) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Names(Small().Search("富士", true, nullptr)), (V{"富士山", "富士駅"}));
    EXPECT_EQ(Names(Small().Search("フジ", true, nullptr)), (V{"富士山", "富士駅"}));
    EXPECT_EQ(Names(Small().Search("静岡 富士宮", true, nullptr)), (V{"富士山"}));
    EXPECT_EQ(Names(Small().Search("静岡\xE3\x80\x80駅", true, nullptr)), (V{"富士駅"}));
    EXPECT_EQ(Names(Small().Search("静岡", true, nullptr)),
              (V{"静岡県", "静岡県庁", "静岡市", "富士山", "富士駅"}));
    EXPECT_EQ(Names(Small().Search("静岡", false, nullptr)), (V{"静岡県庁", "富士山", "富士駅"}))
        << "the local search leaves prefectures and cities out";
    const tools::Box tokyo{139.5, 35.5, 140.0, 35.8};
    EXPECT_EQ(Names(Small().Search("", true, &tokyo)), (V{"東京駅", "A&B <タワー>"}));
}

TEST(Box, ReadsWestSouthEastNorthAsEachReaderAsks) {
    using tools::BoxParts;
    constexpr Box kUntouched{-1, -1, -1, -1};
    struct Case {
        const char* text;
        BoxParts parts;
        bool read;
        Box box;  // kUntouched when not read
    };
    const Case cases[] = {
        {"139.5,35.5,140.0,35.8", BoxParts::kLenient, true, {139.5, 35.5, 140.0, 35.8}},
        {"139.5,35.5,140.0,35.8", BoxParts::kNumbers, true, {139.5, 35.5, 140.0, 35.8}},
        {"-1.5e1,+2,3.,.4", BoxParts::kNumbers, true, {-15, 2, 3, 0.4}},
        {" 1,2,3,4", BoxParts::kNumbers, true, {1, 2, 3, 4}},
        {"1,2,3", BoxParts::kLenient, false, kUntouched},
        {"1,2,3", BoxParts::kNumbers, false, kUntouched},
        {"", BoxParts::kLenient, false, kUntouched},
        {"", BoxParts::kNumbers, false, kUntouched},
        // The services read what atof reads; the command line wants numbers.
        {"1,,3,4", BoxParts::kLenient, true, {1, 0, 3, 4}},
        {"1,,3,4", BoxParts::kNumbers, false, kUntouched},
        {"1,2,3,", BoxParts::kLenient, true, {1, 2, 3, 0}},
        {"1,2,3,", BoxParts::kNumbers, false, kUntouched},
        {"1,2,3,4,5", BoxParts::kLenient, true, {1, 2, 3, 4}},
        {"1,2,3,4,5", BoxParts::kNumbers, false, kUntouched},
        {"1x,2,3,north", BoxParts::kLenient, true, {1, 2, 3, 0}},
        {"1x,2,3,4", BoxParts::kNumbers, false, kUntouched},
        {"1,2,3,4 ", BoxParts::kNumbers, false, kUntouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.parts == BoxParts::kNumbers ? " (numbers)" : ""));
        Box box = kUntouched;
        EXPECT_EQ(tools::ReadBox(c.text, c.parts, box), c.read);
        EXPECT_EQ(box.west, c.box.west);
        EXPECT_EQ(box.south, c.box.south);
        EXPECT_EQ(box.east, c.box.east);
        EXPECT_EQ(box.north, c.box.north);
    }
}

TEST(BuiltInGazetteer, HoldsTheWholeCountry) {
    const Gazetteer& gazetteer = Gazetteer::BuiltIn();
    EXPECT_EQ(gazetteer.skippedLines(), 0);
    int prefectures = 0, cities = 0, places = 0;
    for (const Place& place : gazetteer.places()) {
        if (place.kind == "prefecture") {
            ++prefectures;
        } else if (place.kind == "city") {
            ++cities;
        } else if (place.kind != "office") {
            ++places;
        }
        EXPECT_TRUE(place.latitude > 20 && place.latitude < 46 && place.longitude > 122 &&
                    place.longitude < 154)
            << place.name;
    }
    EXPECT_EQ(prefectures, 47);
    EXPECT_GE(cities, 20);
    EXPECT_GE(places, 150);
}

TEST(ServerInfoService, AnswersAWellFormedRequestOnly) {
    const tools::HttpAnswer good = AnswerServerInfo({{"version", "1000"}}, 8123);
    EXPECT_EQ(good.body,
              "SERVERINFO\r\n"
              "GEOCODER 127.0.0.1,/v1/geocoder,,8123,norrow-demo\r\n"
              "LOCALSEARCH 127.0.0.1,/v1/localsearch,,8123,norrow-demo\r\n"
              "MAXPAGE 3\r\n");
    const std::map<std::string, std::string> bad[] = {
        {}, {{"version", ""}}, {{"version", "1.0"}}, {{"version", "1000"}, {"extra", "x"}}};
    for (const auto& fields : bad) {
        EXPECT_EQ(AnswerServerInfo(fields, 8123).body, "SERVERINFO\r\nDENIED\r\n");
    }
}

TEST(SearchService, RefusesWithoutTheRightAppid) {
    const tools::HttpAnswer missing = AnswerSearch("/v1/geocoder?query=x", Small());
    EXPECT_EQ(missing.status, 401);
    EXPECT_NE(missing.body.find("<Error>\n<Message>"), std::string::npos);
    EXPECT_EQ(AnswerSearch("/v1/geocoder?appid=other&query=x", Small()).status, 403);
    EXPECT_EQ(AnswerSearch("/v2/nothing?appid=norrow-demo", Small()).status, 404);
}

TEST(SearchService, DecodesTheQueryAsItWasSent) {
    const std::string sjis =
        AnswerSearch(
            "/v1/geocoder?appid=norrow-demo&query=%95%78%8E%6D%8E%52&ei=SJIS&result=10&output=xml",
            Small())
            .body;
    EXPECT_NE(sjis.find("<Name>富士山</Name>"), std::string::npos);
    EXPECT_NE(sjis.find("<Total>1</Total>"), std::string::npos);
    const std::string utf8 =
        AnswerSearch("/v1/localsearch?appid=norrow-demo&query=%E5%AF%8C%E5%A3%AB+%E9%A7%85",
                     Small())
            .body;
    EXPECT_NE(utf8.find("<Name>富士駅</Name>"), std::string::npos);
    EXPECT_NE(utf8.find("<Total>1</Total>"), std::string::npos);
    EXPECT_EQ(utf8.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
}

TEST(SearchService, PagesBoxesDatumsAndEscapes) {
    const std::string second =
        AnswerSearch("/v1/geocoder?appid=norrow-demo&query=&start=2&result=2", Small()).body;
    EXPECT_NE(second.find("<Count>2</Count><Total>7</Total><Start>2</Start>"), std::string::npos);
    EXPECT_NE(second.find("<Name>静岡県庁</Name>"), std::string::npos);
    EXPECT_EQ(second.find("<Name>静岡県</Name>"), std::string::npos);

    const std::string boxed =
        AnswerSearch("/v1/localsearch?appid=norrow-demo&bbox=139.5,35.5,140.0,35.8", Small()).body;
    EXPECT_NE(boxed.find("<Name>A&amp;B &lt;タワー&gt;</Name>"), std::string::npos);
    EXPECT_NE(boxed.find("<Total>2</Total>"), std::string::npos);

    const std::string wgs =
        AnswerSearch("/v1/geocoder?appid=norrow-demo&query=東京駅", Small()).body;
    const std::string tky =
        AnswerSearch("/v1/geocoder?appid=norrow-demo&query=東京駅&datum=tky", Small()).body;
    EXPECT_NE(wgs.find("<Coordinates>139.767125,35.681236</Coordinates>"), std::string::npos);
    EXPECT_EQ(tky.find("<Coordinates>139.767125,35.681236</Coordinates>"), std::string::npos);
    EXPECT_NE(tky.find("<Coordinates>139.7703"), std::string::npos) << tky;
}

TEST(StandInServices, ServeOverHttpOnLoopback) {
    tools::StandInServices services(Small());
    const int port = services.Start(0);
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    const std::string body =
        "--kiritori\r\nContent-Disposition: form-data; name=\"version\"\r\n"
        "\r\n1000\r\n--kiritori--\r\n";
    auto info =
        client.Post("/norrow/downloadinfo.php", body, "multipart/form-data; boundary=kiritori");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 200);
    EXPECT_NE(info->body.find(",/v1/geocoder,," + std::to_string(port) + ",norrow-demo"),
              std::string::npos);
    auto denied = client.Post("/norrow/downloadinfo.php", "version=1000",
                              "application/x-www-form-urlencoded");
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->body, "SERVERINFO\r\nDENIED\r\n");
    auto search = client.Get("/v1/geocoder?appid=norrow-demo&query=%E5%AF%8C%E5%A3%AB&output=xml");
    ASSERT_TRUE(search);
    EXPECT_EQ(search->status, 200);
    EXPECT_NE(search->body.find("<Name>富士山</Name>"), std::string::npos);
    auto refused = client.Get("/v1/geocoder?query=x");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    services.Stop();
    EXPECT_FALSE(client.Get("/v1/geocoder?appid=norrow-demo"));
}

}  // namespace
}  // namespace norrow::test
