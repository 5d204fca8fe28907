#include "testkit/ydf_writer.h"

namespace norrow::testkit {
namespace {

void Element(std::string& text, const char* name, const std::string& content) {
    text += '<';
    text += name;
    if (content.empty()) {
        text += "/>";
        return;
    }
    text += '>';
    text += content;
    text += "</";
    text += name;
    text += '>';
}

}  // namespace

YdfWriter::YdfWriter(const YdfHead& head) {
    text_ = "<?xml version=\"1.0\" encoding=\"" + head.encoding + "\"?>\n";
    const bool full = !head.start.empty();
    if (full) {
        text_ += "<YDF xmlns=\"http://olp.yahooapis.jp/ydf/1.0\" totalResultsReturned=\"" +
                 head.count + "\" totalResultsAvailable=\"" + head.total +
                 "\" firstResultPosition=\"" + head.start + "\">\n";
    } else {
        text_ += "<YDF>";
    }
    if (head.status.empty()) return;
    text_ += "<ResultInfo><Count>" + head.count + "</Count><Total>" + head.total + "</Total>";
    if (full) text_ += "<Start>" + head.start + "</Start>";
    text_ += "<Status>" + head.status + "</Status>";
    if (full) text_ += "<Description/><Copyright/><Latency>" + head.latency + "</Latency>";
    text_ += "</ResultInfo>\n";
}

YdfWriter& YdfWriter::Feature(const YdfHit& hit, const YdfLocal* local) {
    const std::string separator = local != nullptr ? local->separator : "";
    text_ += "<Feature>" + separator;
    if (local != nullptr) {
        text_ += "<Id>" + local->id + "</Id>" + separator;
        Element(text_, "Gid", local->gid);
        text_ += separator;
    }
    text_ += "<Name>" + hit.name + "</Name>" + separator + "<Geometry>";
    if (local != nullptr) text_ += "<Type>point</Type>";
    text_ += "<Coordinates>" + hit.coordinates + "</Coordinates>";
    if (local != nullptr) {
        text_ += "<BoundingBox>" + hit.coordinates + " " + hit.coordinates + "</BoundingBox>";
    }
    text_ += "</Geometry>" + separator;
    if (local != nullptr) {
        text_ += "<Category>" + local->category + "</Category>" + separator;
        Element(text_, "Description", local->description);
        text_ += separator + "<Style/>" + separator;
    }
    text_ += "<Property>" + separator;
    if (local != nullptr) {
        text_ += "<Uid>" + local->uid + "</Uid>" + separator + "<CassetteId>" + local->cassetteId +
                 "</CassetteId>" + separator;
    }
    text_ += "<Yomi>" + hit.yomi + "</Yomi>" + separator;
    if (local != nullptr) {
        text_ +=
            "<Country><Code>JP</Code><Name>" + local->countryName + "</Name></Country>" + separator;
    }
    text_ += "<Address>" + hit.address + "</Address>" + separator;
    if (local != nullptr) text_ += local->moreProperty;
    text_ += "</Property>" + separator + "</Feature>\n";
    return *this;
}

std::string YdfWriter::Done() {
    text_ += "</YDF>\n";
    return std::move(text_);
}

}  // namespace norrow::testkit
