// Writes pixel grids as 8-bit PNG images: the headless runner's grey frames
// and the window's saved views.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether the image can be written to `path`, checked before the work that
// makes it: prints the reason on standard error and returns false when not.
bool checkGreyPngDestination(const std::string& path);

// pixels holds width x height words, row 0 first; each word's low byte is
// the grey level (its red byte). Row 0 becomes the image's top row. The
// image is written beside `path` and renamed into place when complete, so a
// failure leaves any existing file of that name as it was. Prints what went
// wrong, with the system's reason, on standard error and returns false on
// failure.
bool writeGreyPng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height);

// rgb holds width x height pixels of three bytes (red, green, blue), row 0
// the top one. Writes them as a new file, never replacing one: `path`, or
// when that exists the first of path with "-2", "-3" ... before its
// extension that does not. Returns the name written; empty after printing
// what went wrong, with the system's reason, on standard error (a file left
// part way is removed).
std::string writeNewRgbPng(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height);
