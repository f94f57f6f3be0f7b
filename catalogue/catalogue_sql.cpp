#include "catalogue/catalogue_sql.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/sqlcipher_storage.h"

#include <QStringList>

namespace Kv402 {

namespace {

QString quoted(const QString &text, QChar quote)
{
    QString result = text;
    result.replace(quote, QString(2, quote));
    return quote + result + quote;
}

} // namespace

QString dumpCatalogue(const CatalogueDatabase &catalogue)
{
    QString sql;
    for (const QString &name : catalogue.tableNames()) {
        const TableData table = catalogue.OpenRecordset(name)->table();
        QStringList columns;
        for (const QString &column : table.columns)
            columns.append(quoted(column, QLatin1Char('"')) + QStringLiteral(" TEXT"));
        sql += QStringLiteral("CREATE TABLE %1 (%2);\n")
                   .arg(quoted(table.name, QLatin1Char('"')), columns.join(QStringLiteral(", ")));
        for (const QList<FieldValue> &row : table.rows) {
            QStringList values;
            for (const FieldValue &value : row)
                values.append(value ? quoted(*value, QLatin1Char('\'')) : QStringLiteral("NULL"));
            sql += QStringLiteral("INSERT INTO %1 VALUES (%2);\n")
                       .arg(quoted(table.name, QLatin1Char('"')), values.join(QStringLiteral(", ")));
        }
    }
    return sql;
}

void buildCatalogue(const QString &sqlText, const QString &fileName)
{
    buildSqlCipherCatalogue(sqlText,
                            fileName,
                            QByteArray(Catalogue::Password.data(), Catalogue::Password.size()));
}

} // namespace Kv402
