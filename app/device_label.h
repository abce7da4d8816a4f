// What runs the water, in words, for the window's figures: the GPU's name,
// or the CPU with the set of kernels it runs. One definition per backend.
#pragma once

#include <string>

std::string deviceLabel();
