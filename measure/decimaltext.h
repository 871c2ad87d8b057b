#pragma once

#include <string>

// A number as the measuring core's texts and documents give it, in the C
// locale whatever the program's: up to three decimals, without the zeros
// at their end ("0.42", "100", "-1.5").
std::string decimalText(double value);
