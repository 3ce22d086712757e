#pragma once
// Install-root discovery, apart from the once-per-process table so that each
// rule can be exercised on its own.
#include <string>

// The root for a program or script path: the text before the first "/bin/",
// "/sbin/" or "/web/cgi-bin/"; else <path up to its third-last "/">/release/nt
// when that exists; else "/".
std::string path_root_of(const std::string& path);
// The root from the environment and the program path; empty when none is found.
std::string path_discover_root(const char* program);
