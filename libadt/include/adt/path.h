#pragma once
// The runtime's install root and its directory table.

constexpr int PATH_ENTRIES = 14;
constexpr int PATH_LOG_DIR = 8;

// Discovers the install root once per process: "KORVEX_DIR" (backslashes made
// slashes), else "SCRIPT_FILENAME", else the program's own path when one is given.
void path_init(const char* program);
// A directory table entry: the root followed by the entry's subdirectory
// ("/log/" for PATH_LOG_DIR). Index 14 or more: the root itself, "/" without one.
const char* path_get(int index);
