// Times `kv402 catalogue build` as a whole process against the sqlcipher shell on the same script:
// a version table of 40,000 rows in one transaction. Both programs run alternately, several times
// each; the best and median wall-clock times are shown with their ratio. It also checks that both
// catalogues read the same rows.
//
// usage: bench_catalogue_build [ROWS [RUNS]]    (sqlcipher comes from the Debian package sqlcipher)

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/catalogue_error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int DefaultRows = 40000;
constexpr int DefaultRuns = 5;
constexpr double GoalRatio = 5.0;
// Devices lists fill fixed columns up to character 199.
constexpr int DevicesWidth = 199;

struct Timings
{
    const char *name;
    std::vector<double> wallMs;

    double best() const { return *std::min_element(wallMs.begin(), wallMs.end()); }
    double median() const
    {
        std::vector<double> sorted = wallMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

QByteArray script(int rows)
{
    QByteArray sql
        = "BEGIN;\n"
          "CREATE TABLE num (numeri TEXT);\n"
          "INSERT INTO num VALUES ('1');\n"
          "CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);\n";
    const QByteArray languages[] = {"Italiano", "English", "Français", "Deutsch"};
    for (int row = 0; row < rows; ++row) {
        const QByteArray number = QByteArray::number(row);
        QByteArray devices = ("Lettore " + number + " || Tastiera 'Œ'").leftJustified(DevicesWidth);
        sql += "INSERT INTO Versioni1 VALUES ('" + QByteArray::number(row / 100) + '.'
               + QByteArray::number(row % 100) + "', '" + languages[row % 4] + "', 'V" + number
               + ".S28', '" + devices.replace('\'', "''") + "');\n";
    }
    return sql + "COMMIT;\n";
}

// Runs a program to its end; the time is wall-clock time, start-up included.
double run(const QString &program,
           const QStringList &arguments,
           const QString &input,
           const QString &target)
{
    QFile::remove(target);
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr,
                     "bench_catalogue_build: %s failed: %s\n",
                     qPrintable(program),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

QList<QList<Kv402::FieldValue>> rowsOf(const QString &fileName)
{
    const auto catalogue = Kv402::CatalogueDatabase::open(fileName);
    return catalogue->readTable(QStringLiteral("Versioni1")).rows;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int rows = arguments.size() > 1 ? arguments.at(1).toInt() : DefaultRows;
    const int runs = arguments.size() > 2 ? arguments.at(2).toInt() : DefaultRuns;
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlcipher"));
    if (rows < 1 || runs < 1) {
        std::fprintf(stderr, "usage: bench_catalogue_build [ROWS [RUNS]]\n");
        return 2;
    }
    if (shell.isEmpty()) {
        std::fprintf(stderr, "bench_catalogue_build: the sqlcipher shell is not installed\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("catalogue.sql"));
    const QString shellInput = dir.filePath(QStringLiteral("shell-input.sql"));
    const QString built = dir.filePath(QStringLiteral("kv402.mdb"));
    const QString shellBuilt = dir.filePath(QStringLiteral("sqlcipher.mdb"));
    QFile sourceFile(source);
    QFile inputFile(shellInput);
    if (!sourceFile.open(QIODevice::WriteOnly) || sourceFile.write(script(rows)) < 0
        || !inputFile.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "bench_catalogue_build: cannot write the script\n");
        return 1;
    }
    sourceFile.close();
    // The shell gets the key and the format as the README tells a user to give them.
    inputFile.write("PRAGMA key = '" + QByteArray(Kv402::Catalogue::Password.data()) + "';\n"
                    + QByteArray(Kv402::Catalogue::PinCipherFormat.data()) + "\n.read "
                    + QFile::encodeName(source) + '\n');
    inputFile.close();

    Timings tool{"kv402 catalogue build", {}};
    Timings reference{"sqlcipher shell", {}};
    for (int i = 0; i < runs; ++i) {
        tool.wallMs.push_back(
            run(QStringLiteral(KV402_TOOL),
                {QStringLiteral("catalogue"), QStringLiteral("build"), source, built},
                {},
                built));
        reference.wallMs.push_back(
            run(shell, {QStringLiteral("-bail"), shellBuilt}, shellInput, shellBuilt));
    }

    bool same = false;
    try {
        same = rowsOf(built) == rowsOf(shellBuilt) && rowsOf(built).size() == rows;
    } catch (const Kv402::CatalogueError &error) {
        std::fprintf(stderr, "bench_catalogue_build: %s\n", error.what());
        return 1;
    }

    std::printf("script: %d rows in one transaction, %lld bytes; kv402 build: %s; %d runs each\n\n",
                rows,
                static_cast<long long>(QFile(source).size()),
                KV402_BUILD_TYPE,
                runs);
    std::printf("%-22s %10s %10s\n", "", "best ms", "median ms");
    for (const Timings &one : {tool, reference})
        std::printf("%-22s %10.1f %10.1f\n", one.name, one.best(), one.median());
    std::printf("\nkv402 / sqlcipher: best %.2f x, median %.2f x (goal at most %.0f x)\n",
                tool.best() / reference.best(),
                tool.median() / reference.median(),
                GoalRatio);
    std::printf("same rows: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
