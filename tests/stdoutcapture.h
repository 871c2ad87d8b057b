#pragma once

#include "streamcapture.h"

// Captures standard output, where the adapter writes its progress lines,
// while it lives.
class StdoutCapture : public StreamCapture
{
public:
    StdoutCapture() : StreamCapture(std::cout) {}
};
