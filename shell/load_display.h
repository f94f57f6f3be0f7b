#pragma once

#include "link/link_event.h"

#include <QString>

namespace Kv402 {

// What the window's counters and bars show of a load.
struct LoadDisplay
{
    // Blocks done of N, and errors of N (" 3  of   12").
    QString blocksText;
    QString errorsText;
    int blocks = 0;
    int blocksMaximum = 0;
    int errors = 0;
    int errorsMaximum = 0;

    friend bool operator==(const LoadDisplay &, const LoadDisplay &) = default;
};

// A count as the display writes it: a blank in the place of the sign, "  of  ", then N.
QString countOf(int count, int blockCount);

// The display after an event of a run's link.
LoadDisplay displayAfter(LoadDisplay display, const LinkEvent &event);
// The display at the end of a run that reached its completion: empty counters, bars at 0.
LoadDisplay clearedDisplay(LoadDisplay display);

} // namespace Kv402
