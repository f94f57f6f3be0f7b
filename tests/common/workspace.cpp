#include "workspace.h"

#include "catalogue/catalogue_error.h"
#include "catalogue/catalogue_sql.h"
#include "catalogue/sqlcipher_storage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

namespace Kv402::Test {

Workspace::Workspace()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

Workspace::~Workspace()
{
    QDir::setCurrent(m_previous);
}

void Workspace::buildCatalogue(const QString &sql, const QString &name)
{
    Kv402::buildCatalogue(sql, filePath(name));
}

void Workspace::buildCatalogueWithKey(const QString &sql, const QByteArray &key, const QString &name)
{
    buildSqlCipherCatalogue(sql, filePath(name), key);
}

void Workspace::writeFile(const QString &name, const QByteArray &content)
{
    QFile file(filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const CatalogueError &error) {
        return error.message();
    }
    return {};
}

QString sqlQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString versionTableSql(const QString &table, const QList<QStringList> &rows)
{
    QString sql = QStringLiteral(
                      "CREATE TABLE %1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);\n")
                      .arg(table);
    for (const QStringList &row : rows) {
        QStringList values;
        for (const QString &value : row)
            values.append(sqlQuoted(value));
        sql += QStringLiteral("INSERT INTO %1 VALUES (%2);\n")
                   .arg(table, values.join(QLatin1Char(',')));
    }
    return sql;
}

QString revisionTableSql(const QStringList &revisions)
{
    QString sql = QStringLiteral("CREATE TABLE num (numeri TEXT);\n");
    for (const QString &revision : revisions)
        sql += QStringLiteral("INSERT INTO num VALUES (%1);\n").arg(sqlQuoted(revision));
    return sql;
}

} // namespace Kv402::Test
