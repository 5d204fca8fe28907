#include "answers.h"

#include "platform/recode.h"
#include "testkit/ydf_writer.h"

namespace norrow::bench {
namespace {

const char* const kStations[] = {"東京", "新宿",   "渋谷",   "池袋", "品川",
                                 "上野", "秋葉原", "有楽町", "神田", "浜松町"};
const char* const kYomi[] = {"トウキョウ", "シンジュク",    "シブヤ",     "イケブクロ",
                             "シナガワ",   "ウエノ",        "アキハバラ", "ユウラクチョウ",
                             "カンダ",     "ハママツチョウ"};

testkit::YdfHead Head(int hits, bool utf8) {
    testkit::YdfHead head;
    head.encoding = utf8 ? "UTF-8" : "Shift_JIS";
    head.count = head.total = std::to_string(hits);
    head.start = "1";
    head.latency = "0.011";
    return head;
}

std::string Finish(std::string utf8, bool asUtf8) {
    return asUtf8 ? utf8 : platform::ShiftJisFromUtf8(utf8);
}

}  // namespace

std::string RealisticPage(int hits, bool utf8) {
    testkit::YdfWriter page(Head(hits, utf8));
    testkit::YdfLocal local;
    local.category = "駅";
    local.cassetteId = "d8a23e9e64a4c817227ab09858bc1330";
    local.countryName = "日本";
    local.separator = "\n";
    for (int i = 0; i < hits; ++i) {
        const std::string n = std::to_string(i);
        const std::string lon = "139.7" + std::to_string(10000 + i * 37 % 90000);
        const std::string lat = "35.6" + std::to_string(10000 + i * 53 % 90000);
        local.id = "2011102" + n;
        local.gid = "ga" + n;
        local.description = "JR線・地下鉄 " + n + "番線";
        local.uid = "0a8d5c2e" + n + "f00d";
        local.moreProperty =
            "<GovernmentCode>13101</GovernmentCode><AddressMatchingLevel>3</AddressMatchingLevel>\n"
            "<Genre><Code>0306001</Code><Name>駅</Name></Genre>\n"
            "<Station><Id>2282" +
            n + "</Id><SubId>2282801</SubId><Name>" + kStations[i % 10] +
            "</Name><Railway>JR山手線/JR京浜東北線</Railway><Exit>丸の内北口</Exit>"
            "<Distance>120</Distance><Time>2</Time><Geometry><Type>point</Type>"
            "<Coordinates>139.767,35.681</Coordinates></Geometry></Station>\n";
        page.Feature({std::string(kStations[i % 10]) + "駅", lon + "," + lat,
                      std::string(kYomi[i % 10]) + "エキ",
                      "東京都千代田区丸の内" + std::to_string(1 + i % 3) + "丁目"},
                     &local);
    }
    return Finish(page.Done(), utf8);
}

std::string CompactPage(int hits, bool utf8) {
    testkit::YdfWriter page(Head(hits, utf8));
    for (int i = 0; i < hits; ++i) {
        const std::string digits = std::to_string(1000 + i % 9000);
        page.Feature({std::string(kStations[i % 10]) + "駅", "139.70" + digits + ",35.60" + digits,
                      kYomi[i % 10], "東京都千代田区"});
    }
    return Finish(page.Done(), utf8);
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
