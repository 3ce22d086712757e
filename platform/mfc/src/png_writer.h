#pragma once
// Writes 8-bit RGB pixels as a PNG file (stored deflate blocks: no
// compression library needed for screenshots).
#include <cstdint>
#include <string>

namespace ui {
bool write_png(const std::string& path, const uint8_t* rgb, int width, int height);
}
