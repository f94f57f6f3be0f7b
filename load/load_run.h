#pragma once

#include "link/link_event.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

namespace Kv402 {

// One run of the link within a load: how it ended, its counters, when it started and when the
// link ended (before any message about it), and what it sent. Runs that met no cable and were
// tried again are part of the run that followed them: it starts when the first of them did.
struct LoadRun
{
    LinkOutcome outcome = LinkOutcome::Stopped;
    LinkCounters counters;
    QDateTime started;
    QDateTime ended;
    // The data file as an absolute path, and the SHA-256 of the bytes this run read from it.
    QString dataFile;
    QString sha256;
};

// What the technician chose to load: the catalogue's firmware revision, version and language;
// all empty for a data file chosen directly.
struct LoadChoice
{
    QString revision;
    QString version;
    QString language;
};

} // namespace Kv402

Q_DECLARE_METATYPE(Kv402::LoadRun)
