#include "shell/load_display.h"

#include <algorithm>

namespace Kv402 {

namespace {

const QLatin1StringView CountSeparator{"  of  "};

// A number as the display writes it: a blank in the place of the sign.
QString signedText(int number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

} // namespace

QString countOf(int count, int blockCount)
{
    return signedText(count) + CountSeparator + signedText(blockCount);
}

LoadDisplay clearedDisplay(LoadDisplay display)
{
    display.blocks = 0;
    display.errors = 0;
    display.blocksText.clear();
    display.errorsText.clear();
    return display;
}

LoadDisplay displayAfter(LoadDisplay display, const LinkEvent &event)
{
    const LinkCounters &counters = event.counters;
    switch (event.kind) {
    case LinkEvent::Kind::CableConnected:
        // Counters of an earlier run must not stand for this one while it waits for the
        // terminal. Up to the cable check the display stays as it is: Cancel there leaves it.
        return clearedDisplay(display);
    case LinkEvent::Kind::HeaderAccepted:
        // A run after a port failure starts from empty bars.
        display.blocks = 0;
        display.errors = 0;
        display.blocksMaximum = counters.blockCount;
        display.errorsMaximum = counters.blockCount;
        return display;
    case LinkEvent::Kind::BlockStarting:
    case LinkEvent::Kind::BlockAccepted:
        // Text2 waits for the block's end or the next block; the error bar does not.
        display.blocksText = countOf(counters.blocksDone, counters.blockCount);
        display.errorsText = countOf(counters.errors, counters.blockCount);
        return display;
    case LinkEvent::Kind::EchoRejected:
        // More rejections than blocks can come: the bar stops at its end.
        display.errors = std::min(display.errors + 1, display.errorsMaximum);
        return display;
    case LinkEvent::Kind::BlockWritten:
        // The block the flash could not take moves the bar too.
        display.blocks = std::min(display.blocks + 1, display.blocksMaximum);
        return display;
    default:
        return display;
    }
}

} // namespace Kv402
