#pragma once

// What the benchmarks of the main window share: the demo workspace as the current directory,
// a settings record of their own, and message boxes that must never be needed.

#include "shell/message_box.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace Kv402::Bench {

// Refuses every message: a run that shows one is not the run being measured.
class NoMessages : public MessageBoxes
{
public:
    void open(QWidget *, const Message &message, Answered) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message.text));
        std::exit(1);
    }
    void withdraw() override {}
};

// Makes the workspace (the first argument, else the demo workspace) the current directory and
// keeps the settings record in a folder that goes with the benchmark. Call after QApplication.
class WindowBench
{
public:
    WindowBench(int argc, char *argv[])
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        const QString workspace = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                           : QStringLiteral(KV402_DEMO_WORKSPACE);
        if (!QDir::setCurrent(workspace)) {
            std::fprintf(stderr, "no workspace at %s\n", qPrintable(workspace));
            std::exit(1);
        }
    }

    NoMessages messages;

private:
    QTemporaryDir m_settings;
};

// Sorts the times and prints their median, least and greatest.
inline void printMedian(const char *what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("  median of %zu %s: %.2f ms (min %.2f, max %.2f)\n",
                times.size(),
                what,
                times[times.size() / 2],
                times.front(),
                times.back());
}

} // namespace Kv402::Bench
