// The plug-in's two search targets: registering their hooks with the host and
// answering the host's search requests page by page.
#pragma once

namespace norrow::search {

// Registers the hooks of the address search and the local search; returns 1.
int Load();

}  // namespace norrow::search
