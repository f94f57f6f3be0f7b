#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace Kv402::Test {

// A temporary working folder that is the current directory while the object lives.
class Workspace
{
public:
    Workspace();
    ~Workspace();

    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Builds Versioni.mdb (or another name) here from SQL text, under the catalogue password
    // unless a key is given.
    void buildCatalogue(const QString &sql, const QString &name = QStringLiteral("Versioni.mdb"));
    void buildCatalogueWithKey(const QString &sql, const QByteArray &key, const QString &name);
    void writeFile(const QString &name, const QByteArray &content);

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// A version table in SQL, from rows of Versione, Lingua, File, Devices.
QString versionTableSql(const QString &table, const QList<QStringList> &rows);
// The revision table num in SQL.
QString revisionTableSql(const QStringList &revisions);

QString sqlQuoted(const QString &text);

// The SHA-256 of a file's bytes; empty when it cannot be read.
QByteArray fileHash(const QString &path);

// The message of the CatalogueError that action throws; empty when it throws none.
QString failureOf(const std::function<void()> &action);

} // namespace Kv402::Test
