#include "tamsel-sim/report.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/numbers.h"

namespace norrow::sim {
namespace {

// The shortest text that reads back as the same double, in the "C" form
// whatever the locale says (JSON has no decimal comma); null for what JSON
// cannot hold.
std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Columns on a terminal: a CJK or full-width character takes two.
size_t DisplayWidth(const std::string& utf8) {
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

std::string Padded(const std::string& text, size_t width) {
    const size_t shown = DisplayWidth(text);
    return text + std::string(shown < width ? width - shown : 0, ' ');
}

std::string TargetName(const Outcome& outcome, uint32_t id) {
    return id == outcome.addressId ? "address" : id == outcome.localId ? "local" : "unknown";
}

template <typename Item, typename Write>
void JsonArray(std::ostream& out, const std::vector<Item>& items, Write write) {
    out << '[';
    for (size_t i = 0; i < items.size(); ++i) {
        out << (i ? "," : "") << "\n    ";
        write(items[i]);
    }
    out << (items.empty() ? "]" : "\n  ]");
}

// The boxes as a JSON array of {"type", "text"}.
void PrintBoxes(std::ostream& out, const std::vector<ShownBox>& boxes) {
    JsonArray(out, boxes, [&](const ShownBox& box) {
        out << "{\"type\": " << box.type << ", \"text\": " << JsonString(box.text) << '}';
    });
}

}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void PrintTable(std::ostream& out, const Outcome& outcome) {
    if (outcome.create != 1) {
        out << "The plug-in refused this host (Create returned " << outcome.create << ").\n";
        return;
    }
    for (const SearchRun& run : outcome.searches) {
        out << (run.hook == "address" ? "address search" : "local search") << ": "
            << (run.result == 1 ? "served" : "not served") << '\n';
    }
    for (const std::string& line : outcome.status) out << "status: " << line << '\n';
    out << outcome.resultCount << (outcome.resultCount == 1 ? " hit" : " hits") << '\n';
    if (!outcome.hits.empty()) {
        size_t nameWidth = 4, yomiWidth = 4;
        for (const HitView& hit : outcome.hits) {
            nameWidth = std::max(nameWidth, DisplayWidth(hit.name));
            yomiWidth = std::max(yomiWidth, DisplayWidth(hit.yomi));
        }
        out << "  #  " << Padded("name", nameWidth) << "  " << Padded("yomi", yomiWidth)
            << "   latitude   longitude  target   address\n";
        int index = 1;
        for (const HitView& hit : outcome.hits) {
            char number[16], coordinates[64];
            std::snprintf(number, sizeof number, "%3d", index++);
            std::string latitude, longitude;
            platform::AppendFixed6(latitude, hit.latitude);
            platform::AppendFixed6(longitude, hit.longitude);
            std::snprintf(coordinates, sizeof coordinates, "%11s %11s", latitude.c_str(),
                          longitude.c_str());
            out << number << "  " << Padded(hit.name, nameWidth) << "  "
                << Padded(hit.yomi, yomiWidth) << coordinates << "  "
                << Padded(TargetName(outcome, hit.targetId), 7) << "  " << hit.address << '\n';
        }
    }
    if (!outcome.attribution.empty()) out << "credit: " << outcome.attribution.back() << '\n';
}

void PrintJson(std::ostream& out, const Outcome& outcome) {
    out << "{\n  \"create\": " << outcome.create << ",\n  \"load\": " << outcome.load
        << ",\n  \"target_ids\": {\"address\": " << outcome.addressId
        << ", \"local\": " << outcome.localId << "},\n  \"searches\": ";
    JsonArray(out, outcome.searches, [&](const SearchRun& run) {
        out << "{\"hook\": " << JsonString(run.hook) << ", \"result\": " << run.result << '}';
    });
    out << ",\n  \"result_count\": " << outcome.resultCount << ",\n  \"hits\": ";
    JsonArray(out, outcome.hits, [&](const HitView& hit) {
        out << "{\"latitude\": " << Number(hit.latitude)
            << ", \"longitude\": " << Number(hit.longitude)
            << ", \"name\": " << JsonString(hit.name)
            << ", \"address\": " << JsonString(hit.address)
            << ", \"yomi\": " << JsonString(hit.yomi) << ", \"attribute\": " << hit.attribute
            << ", \"target_id\": " << hit.targetId << '}';
    });
    out << ",\n  \"requests\": ";
    JsonArray(out, outcome.requests, [&](const RequestView& request) {
        out << "{\"kind\": \"" << (request.post ? "post" : "get")
            << "\", \"host\": " << JsonString(request.host) << ", \"port\": " << request.port
            << ", \"path\": " << JsonString(request.path) << ", \"user_agent\": "
            << (request.userAgent != nullptr ? JsonString(request.userAgentText) : "null")
            << ", \"timeout\": " << request.timeout
            << ", \"header\": " << (request.hasHeader ? JsonString(request.header) : "null")
            << ", \"body\": " << (request.hasBody ? JsonString(request.body) : "null") << '}';
    });
    out << ",\n  \"status\": ";
    JsonArray(out, outcome.status, [&](const std::string& text) { out << JsonString(text); });
    out << ",\n  \"attribution\": ";
    JsonArray(out, outcome.attribution, [&](const std::string& text) { out << JsonString(text); });
    out << ",\n  \"message_boxes\": ";
    PrintBoxes(out, outcome.boxes);
    out << ",\n  \"profile\": {\"ServerInfoAt\": ";
    if (outcome.hasProfile) {
        out << outcome.serverInfoAt;
    } else {
        out << "null";
    }
    out << "}\n}\n";
}

void PrintJson(std::ostream& out, const AboutOutcome& outcome) {
    out << "{\n  \"result\": " << outcome.result << ",\n  \"message_boxes\": ";
    PrintBoxes(out, outcome.boxes);
    out << "\n}\n";
}

void PrintGeoJson(std::ostream& out, const Outcome& outcome) {
    out << "{\"type\": \"FeatureCollection\", \"features\": [";
    for (size_t i = 0; i < outcome.hits.size(); ++i) {
        const HitView& hit = outcome.hits[i];
        out << (i ? "," : "") << "\n  {\"type\": \"Feature\", \"geometry\": {\"type\": \"Point\", "
            << "\"coordinates\": [" << Number(hit.longitude) << ", " << Number(hit.latitude)
            << "]}, \"properties\": {\"name\": " << JsonString(hit.name)
            << ", \"yomi\": " << JsonString(hit.yomi)
            << ", \"address\": " << JsonString(hit.address)
            << ", \"target\": " << JsonString(TargetName(outcome, hit.targetId)) << "}}";
    }
    out << "\n]}\n";
}

}  // namespace norrow::sim
