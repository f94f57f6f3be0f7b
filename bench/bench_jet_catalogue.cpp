// Times opening a catalogue and reading all its tables, for an Access file and for the same rows
// as an SQLCipher catalogue. Usage: bench_jet_catalogue [ACCESS-FILE [ROUNDS]]; the file defaults
// to Versioni-large.mdb of the Jet fixtures under $KV402_FIXTURES_DIR.

#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int DefaultRounds = 20;

struct Timing
{
    double medianMs;
    double bestMs;
    qsizetype rows;
};

Timing timeReading(const QString &fileName, int rounds)
{
    std::vector<double> times;
    qsizetype rows = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const auto catalogue = Kv402::CatalogueDatabase::open(fileName);
        rows = 0;
        for (const QString &table : catalogue->tableNames())
            rows += catalogue->readTable(table).rows.size();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front(), rows};
}

void print(const char *what, const Timing &timing)
{
    std::printf("%-10s %6lld rows  median %8.2f ms  best %8.2f ms\n",
                what,
                static_cast<long long>(timing.rows),
                timing.medianMs,
                timing.bestMs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString access = arguments.size() > 1 ? arguments.at(1)
                                                : qEnvironmentVariable("KV402_FIXTURES_DIR")
                                                      + QStringLiteral("/jet/Versioni-large.mdb");
    const int rounds = arguments.size() > 2 ? arguments.at(2).toInt() : DefaultRounds;
    if (!QFileInfo::exists(access) || rounds < 1) {
        std::fprintf(stderr, "usage: bench_jet_catalogue [ACCESS-FILE [ROUNDS]]\n");
        return 2;
    }

    try {
        QTemporaryDir dir;
        const QString sqlcipher = dir.filePath(QStringLiteral("Versioni.mdb"));
        Kv402::buildCatalogue(Kv402::dumpCatalogue(*Kv402::CatalogueDatabase::open(access)),
                              sqlcipher);
        std::printf("%d rounds of opening the catalogue and reading every table\n", rounds);
        print("Access", timeReading(access, rounds));
        print("SQLCipher", timeReading(sqlcipher, rounds));
    } catch (const Kv402::CatalogueError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
