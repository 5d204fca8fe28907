// The host's profile between runs of tamsel-sim: a file of "key=value" lines,
// loaded into the stand-in host before a run and saved from it after.
#pragma once

#include <string>

#include "plugin/entry.h"

namespace norrow::sim {

// The one entry the host keeps: the plug-in's, when the server information
// was fetched.
using plugin::kProfileKey;

// The profile file used when --profile is not given.
std::string DefaultProfilePath();

// Sets every entry of the file in the stand-in host; a missing file sets none.
void LoadProfile(const std::string& path);

// Writes the host's kProfileKey to the file, making its folders; nothing when
// the host holds no such entry.
void SaveProfile(const std::string& path);

}  // namespace norrow::sim
