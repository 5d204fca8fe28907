// Service answers made to order for the benchmarks: realistic pages of the
// local search, compact pages of any size, and adversarial texts.
#pragma once

#include <string>

namespace norrow::bench {

// A page of `hits` features with every element the local search sends
// (Id, Gid, Name, Geometry with BoundingBox, Category, Description, Style,
// Property with Uid, CassetteId, Yomi, Country, Address, Genre, and a Station
// with its own Name and Geometry), in UTF-8 with its declaration, or in
// Shift-JIS.
std::string RealisticPage(int hits, bool utf8);

// A page of `hits` small features (Name, Coordinates, Yomi, Address), about
// 160 bytes each, in UTF-8 or Shift-JIS.
std::string CompactPage(int hits, bool utf8);

// About `bytes` bytes of: the sought element nested in itself; "<" only; and
// elements of another name before the ResultInfo and the features.
std::string DeepNesting(size_t bytes);
std::string AngleBrackets(size_t bytes);
std::string SkippedElements(size_t bytes);

}  // namespace norrow::bench
