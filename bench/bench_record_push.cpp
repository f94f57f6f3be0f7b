// kv402 record push's work, 100,000 record lines into an empty table of a PostgreSQL server of
// its own (with its usual fsync), then the same record again into the full table: the time and
// lines per second of each against their goals.

#include "pg_cluster.h"

#include "load/load_record.h"
#include "recordpush/record_push.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

namespace {

constexpr int Lines = 100000;
constexpr double EmptyGoalSeconds = 10.0;
constexpr double FullGoalSeconds = 2.0;

// A year of a busy station: lines as the programs write them, each with its own identity.
QByteArray record()
{
    QByteArray lines;
    Kv402::LoadRecordEntry entry;
    entry.started = QDateTime::fromString(QStringLiteral("2026-03-02T10:00:00+01:00"), Qt::ISODate);
    entry.user = QStringLiteral("tecnico");
    entry.host = QStringLiteral("banco-1");
    entry.program = QStringLiteral("kv402station");
    entry.device = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0");
    entry.revision = QStringLiteral("2");
    entry.version = QStringLiteral("2.1");
    entry.language = QStringLiteral("ITA");
    entry.dataFile = QStringLiteral("/srv/kv402/data/KV21ITA.S28");
    entry.sha256 = QString(64, QLatin1Char('a'));
    entry.of = 256;
    for (int i = 0; i < Lines; ++i) {
        entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        entry.started = entry.started.addSecs(90);
        entry.ended = entry.started.addSecs(80);
        entry.port = QStringLiteral("COM%1").arg(i % 16 + 1);
        entry.unitSerial = QString::number(100000 + i);
        entry.blocks = i % 50 == 0 ? 100 : 256;
        entry.outcome = i % 50 == 0 ? QStringLiteral("flash-write-error")
                                    : QStringLiteral("completed");
        lines += QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    }
    return lines;
}

bool timedPush(const char *what, const QString &file, const QString &server, double goal)
{
    QElapsedTimer timer;
    timer.start();
    const Kv402::PushResult result = Kv402::pushRecord(file, server);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!result.complete()) {
        std::fprintf(stderr,
                     "%s: %s\n",
                     what,
                     qPrintable(result.problems.join(QStringLiteral("; "))));
        return false;
    }
    std::printf(
        "%-22s %7d pushed %7d already there  %6.2f s  %9.0f lines/s  (goal under %.0f s: %s)\n",
        what,
        result.pushed,
        result.alreadyThere,
        seconds,
        Lines / seconds,
        goal,
        seconds < goal ? "met" : "MISSED");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Kv402::Test::PgCluster cluster(false);
    QString why;
    if (!cluster.start(&why)) {
        std::fprintf(stderr, "bench_record_push: no PostgreSQL server: %s\n", qPrintable(why));
        return 1;
    }
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("loads.jsonl")));
    const QByteArray lines = record();
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size() || !file.flush()) {
        std::fprintf(stderr, "bench_record_push: cannot write the record\n");
        return 1;
    }
    file.close();
    std::printf("%d record lines, %.1f MB\n", Lines, double(lines.size()) / 1e6);
    const bool pushed
        = timedPush("into an empty table", file.fileName(), cluster.uri(), EmptyGoalSeconds)
          && timedPush("into the full table", file.fileName(), cluster.uri(), FullGoalSeconds);
    return pushed ? 0 : 1;
}
