#include "answers.h"

#include "platform/recode.h"

namespace norrow::bench {
namespace {

const char* const kStations[] = {"東京", "新宿",   "渋谷",   "池袋", "品川",
                                 "上野", "秋葉原", "有楽町", "神田", "浜松町"};
const char* const kYomi[] = {"トウキョウ", "シンジュク",    "シブヤ",     "イケブクロ",
                             "シナガワ",   "ウエノ",        "アキハバラ", "ユウラクチョウ",
                             "カンダ",     "ハママツチョウ"};

std::string Header(int hits, const char* encoding) {
    const std::string count = std::to_string(hits);
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
           "\"?>\n"
           "<YDF xmlns=\"http://olp.yahooapis.jp/ydf/1.0\" totalResultsReturned=\"" +
           count + "\" totalResultsAvailable=\"" + count +
           "\" firstResultPosition=\"1\">\n"
           "<ResultInfo><Count>" +
           count + "</Count><Total>" + count +
           "</Total><Start>1</Start><Status>200</Status><Description/><Copyright/>"
           "<Latency>0.011</Latency></ResultInfo>\n";
}

std::string Finish(std::string utf8, bool asUtf8) {
    return asUtf8 ? utf8 : platform::ShiftJisFromUtf8(utf8);
}

}  // namespace

std::string RealisticPage(int hits, bool utf8) {
    std::string text = Header(hits, utf8 ? "UTF-8" : "Shift_JIS");
    for (int i = 0; i < hits; ++i) {
        const std::string n = std::to_string(i);
        const std::string name = std::string(kStations[i % 10]) + "駅";
        const std::string lon = "139.7" + std::to_string(10000 + i * 37 % 90000);
        const std::string lat = "35.6" + std::to_string(10000 + i * 53 % 90000);
        text +=
            "<Feature>\n<Id>2011102" + n + "</Id>\n<Gid>ga" + n + "</Gid>\n<Name>" + name +
            "</Name>\n"
            "<Geometry><Type>point</Type><Coordinates>" +
            lon + "," + lat + "</Coordinates><BoundingBox>" + lon + "," + lat + " " + lon + "," +
            lat +
            "</BoundingBox></Geometry>\n<Category>駅</Category>\n"
            "<Description>JR線・地下鉄 " +
            n +
            "番線</Description>\n<Style/>\n"
            "<Property>\n<Uid>0a8d5c2e" +
            n +
            "f00d</Uid>\n"
            "<CassetteId>d8a23e9e64a4c817227ab09858bc1330</CassetteId>\n"
            "<Yomi>" +
            kYomi[i % 10] +
            "エキ</Yomi>\n"
            "<Country><Code>JP</Code><Name>日本</Name></Country>\n"
            "<Address>東京都千代田区丸の内" +
            std::to_string(1 + i % 3) +
            "丁目</Address>\n"
            "<GovernmentCode>13101</GovernmentCode><AddressMatchingLevel>3</AddressMatchingLevel>\n"
            "<Genre><Code>0306001</Code><Name>駅</Name></Genre>\n"
            "<Station><Id>2282" +
            n + "</Id><SubId>2282801</SubId><Name>" + kStations[i % 10] +
            "</Name><Railway>JR山手線/JR京浜東北線</Railway><Exit>丸の内北口</Exit>"
            "<Distance>120</Distance><Time>2</Time><Geometry><Type>point</Type>"
            "<Coordinates>139.767,35.681</Coordinates></Geometry></Station>\n"
            "</Property>\n</Feature>\n";
    }
    return Finish(text + "</YDF>\n", utf8);
}

std::string CompactPage(int hits, bool utf8) {
    std::string text = Header(hits, utf8 ? "UTF-8" : "Shift_JIS");
    for (int i = 0; i < hits; ++i) {
        text += std::string("<Feature><Name>") + kStations[i % 10] + "駅" +
                "</Name><Geometry><Coordinates>139.70" + std::to_string(1000 + i % 9000) +
                ",35.60" + std::to_string(1000 + i % 9000) +
                "</Coordinates></Geometry><Property><Yomi>" + kYomi[i % 10] +
                "</Yomi><Address>東京都千代田区</Address></Property></Feature>\n";
    }
    return Finish(text + "</YDF>\n", utf8);
}

std::string DeepNesting(size_t bytes) {
    const size_t depth = bytes / 19;
    std::string text = "<YDF><ResultInfo><Status>200</Status></ResultInfo>";
    for (size_t i = 0; i < depth; ++i) text += "<Feature>";
    for (size_t i = 0; i < depth; ++i) text += "</Feature>";
    return text + "</YDF>";
}

std::string AngleBrackets(size_t bytes) { return "<YDF>" + std::string(bytes, '<'); }

std::string SkippedElements(size_t bytes) {
    std::string text = "<YDF>";
    while (text.size() < bytes) text += "<Skip><Name>x</Name></Skip>\n";
    return text +
           "<ResultInfo><Total>1</Total><Status>200</Status></ResultInfo>"
           "<Feature><Name>last</Name></Feature></YDF>";
}

}  // namespace norrow::bench
