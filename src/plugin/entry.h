// The plug-in's life as the host sees it: created, described, released.
// (Load, which registers the search hooks, belongs to the search.)
#pragma once

#include <cstdint>

#include "contract/plugin_interface.h"

namespace norrow::plugin {

// The handle the host gave to Create; it names the plug-in in profile calls
// and hook registrations.
extern uint32_t pluginHandle;

constexpr int kMinimumHostVersion = 9190;
constexpr char kProfileKey[] = "ServerInfoAt";

// Stores the handle, loads the time of the last server-information download
// from the profile and asks for a fresh check at the next search. Refuses a
// host older than kMinimumHostVersion with a message (0); otherwise fills
// `info` and returns 1.
int Create(PLUGININFO* info, uint32_t handle);

// Does nothing; returns 1.
int Close();

// Saves the time of the last download in the host profile; returns what the
// host answers.
int Release();

// Shows the About box; returns the button pressed.
int About();

}  // namespace norrow::plugin
