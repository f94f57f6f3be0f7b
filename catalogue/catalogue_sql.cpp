#include "catalogue/catalogue_sql.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_db.h"
#include "catalogue/sqlcipher_storage.h"

#include <QStringList>

namespace Kv402 {

namespace {

const QLatin1StringView Concatenation{" || "};

QString quoted(const QString &text, QChar quote)
{
    QString result = text;
    result.replace(quote, QString(2, quote));
    return quote + result + quote;
}

// A text as an SQL expression that gives back exactly the same text. Plain runs stay readable in
// quotes; control characters are written as char() codes: a NUL would end the statement, and line
// ends and tabs would not survive an editor or a line-end conversion. (Every control character
// lies in the Basic Multilingual Plane, so the text is walked by its UTF-16 units.)
QString textExpression(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("''");
    QStringList parts;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool control = text.at(i).category() == QChar::Other_Control;
        qsizetype end = i;
        while (end < text.size() && (text.at(end).category() == QChar::Other_Control) == control)
            ++end;
        if (control) {
            QStringList codes;
            for (qsizetype c = i; c < end; ++c)
                codes.append(QString::number(text.at(c).unicode()));
            parts.append(QStringLiteral("char(%1)").arg(codes.join(QStringLiteral(", "))));
        } else {
            parts.append(quoted(text.sliced(i, end - i), QLatin1Char('\'')));
        }
        i = end;
    }
    return parts.join(Concatenation);
}

QString quotedNames(const QStringList &names)
{
    QStringList quotedList;
    for (const QString &name : names)
        quotedList.append(quoted(name, QLatin1Char('"')));
    return quotedList.join(QStringLiteral(", "));
}

} // namespace

QString dumpCatalogue(const CatalogueDatabase &catalogue, QStringList *notes)
{
    QString sql;
    for (const QString &name : catalogue.tableNames()) {
        const TableData table = catalogue.readTable(name);
        const QString tableName = quoted(table.name, QLatin1Char('"'));
        // SQL has no table without columns: such a table cannot be kept at all.
        if (table.columns.isEmpty()) {
            if (notes) {
                notes->append(QStringLiteral("table %1 left out: none of its columns (%2) holds "
                                             "text")
                                  .arg(tableName, quotedNames(table.omittedColumns)));
            }
            continue;
        }
        if (notes && !table.omittedColumns.isEmpty()) {
            notes->append(QStringLiteral("columns of table %1 left out, as they hold no text: %2")
                              .arg(tableName, quotedNames(table.omittedColumns)));
        }
        QStringList columns;
        for (const QString &column : table.columns)
            columns.append(quoted(column, QLatin1Char('"')) + QStringLiteral(" TEXT"));
        sql += QStringLiteral("CREATE TABLE %1 (%2);\n")
                   .arg(tableName, columns.join(QStringLiteral(", ")));
        for (const QList<FieldValue> &row : table.rows) {
            QStringList values;
            for (const FieldValue &value : row)
                values.append(value ? textExpression(*value) : QStringLiteral("NULL"));
            sql += QStringLiteral("INSERT INTO %1 VALUES (%2);\n")
                       .arg(tableName, values.join(QStringLiteral(", ")));
        }
    }
    return sql;
}

void buildCatalogue(const QByteArray &script, const QString &fileName)
{
    buildSqlCipherCatalogue(script,
                            fileName,
                            QByteArray(Catalogue::Password.data(), Catalogue::Password.size()));
}

void buildCatalogue(const QString &sqlText, const QString &fileName)
{
    buildCatalogue(sqlText.toUtf8(), fileName);
}

} // namespace Kv402
