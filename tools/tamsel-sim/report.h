// What the user sees of a run: a table on the terminal, one JSON document,
// or a GeoJSON file of the hits.
#pragma once

#include <ostream>
#include <string>

#include "tamsel-sim/session.h"

namespace norrow::sim {

void PrintTable(std::ostream& out, const Outcome& outcome);
void PrintJson(std::ostream& out, const Outcome& outcome);
// About's result and its box: {"result", "message_boxes"}.
void PrintJson(std::ostream& out, const AboutOutcome& outcome);
// A FeatureCollection of points with name, yomi, address and target.
void PrintGeoJson(std::ostream& out, const Outcome& outcome);

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& utf8);

}  // namespace norrow::sim
