#pragma once

#include "host/IOskal.h"

#include <string>
#include <vector>

// Where the plug-in is looked for when none is named, best first: installed
// beside the tool (<bindir>/../<libdir>, then the tool's own directory), then
// the one built with the tool.
std::vector<std::string> default_plugin_candidates();

// The first candidate that exists, or empty.
std::string find_default_plugin();

using AlgoFactory = Oskal::IOskal* (*)();

// Loads the plug-in and resolves its factory GetAlgoObj. On failure returns
// nullptr and sets *error. The library stays loaded for the life of the
// process: its module-level state (filters, work arrays) is meant to.
AlgoFactory load_plugin(const std::string& path, std::string* error);
