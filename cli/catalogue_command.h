#pragma once

#include "cli/commands.h"
#include "cli/output.h"

#include <QStringList>

// The commands that need Qt, run by kv402-catalogue on kv402's behalf.
namespace Kv402::Tool {

// kv402 catalogue build SOURCE.sql CATALOGUE, kv402 catalogue dump CATALOGUE.
int catalogueCommand(const QStringList &arguments);

} // namespace Kv402::Tool
