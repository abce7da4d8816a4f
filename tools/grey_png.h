// Writes a grid of pixel words as an 8-bit grey PNG image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// pixels holds width x height words, row 0 first; each word's low byte is
// the grey level (its red byte). Row 0 becomes the image's top row. Prints
// what went wrong on standard error and returns false on failure.
bool writeGreyPng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height);
