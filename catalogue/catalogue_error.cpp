#include "catalogue/catalogue_error.h"

#include <QFileInfo>

namespace Kv402 {

namespace {

QString absolute(const QString &fileName)
{
    return QFileInfo(fileName).absoluteFilePath();
}

} // namespace

QString withArguments(const QString &text, const QStringList &arguments)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('%') && i + 1 < text.size()) {
            const int number = text.at(i + 1).digitValue();
            if (number >= 1 && number <= arguments.size()) {
                result += arguments.at(number - 1);
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

// The failures in both languages. The arguments follow the English order; the Italian texts
// name them where Italian puts them.
Bilingual CatalogueError::text(Kind kind)
{
    switch (kind) {
    case Kind::CannotOpen:
        // %2 the system's reason.
        return {"Impossibile aprire il catalogo \"%1\": %2.",
                "Cannot open the catalogue \"%1\": %2."};
    case Kind::NotRegularFile:
        return {"Impossibile aprire il catalogo \"%1\": non è un file regolare.",
                "Cannot open the catalogue \"%1\": it is not a regular file."};
    case Kind::InUse:
        return {"Impossibile aprire il catalogo \"%1\": è in uso da parte di un altro programma "
                "(KV402 Master è già in esecuzione?).",
                "Cannot open the catalogue \"%1\": it is in use by another program (is KV402 "
                "Master already running?)."};
    case Kind::CannotHold:
        // %2 the system's reason.
        return {"Impossibile aprire il catalogo \"%1\" per uso esclusivo: %2.",
                "Cannot open the catalogue \"%1\" for exclusive use: %2."};
    case Kind::CannotSetKey:
        // %2 the engine's reason.
        return {"Impossibile impostare la chiave del catalogo \"%1\": %2.",
                "Cannot set the key of the catalogue \"%1\": %2."};
    case Kind::NotACatalogue:
        return {"Impossibile aprire il catalogo \"%1\": il file non è un database di catalogo, "
                "oppure la password del catalogo non lo apre.",
                "Cannot open the catalogue \"%1\": the file is not a catalogue database, or the "
                "catalogue password does not open it."};
    case Kind::AccessTooNew:
        return {"Impossibile aprire il catalogo \"%1\": è un database di Access 2007 o "
                "successivo, che non può essere letto.",
                "Cannot open the catalogue \"%1\": it is a database of Access 2007 or later, "
                "which cannot be read."};
    case Kind::TextsNotConvertible:
        // %2 the character set.
        return {"Impossibile aprire il catalogo \"%1\": i suoi testi in %2 non possono essere "
                "convertiti.",
                "Cannot open the catalogue \"%1\": its texts in %2 cannot be converted."};
    case Kind::CannotRead:
        // %2 the engine's or the system's reason.
        return {"Impossibile leggere il catalogo \"%1\": %2.",
                "Cannot read the catalogue \"%1\": %2."};
    case Kind::MissingTable:
        // %2 the table.
        return {"Il catalogo \"%1\" non ha la tabella \"%2\".",
                "The catalogue \"%1\" has no table \"%2\"."};
    case Kind::NoRows:
        return {"La tabella \"%2\" del catalogo \"%1\" non ha righe.",
                "There are no rows in the table \"%2\" of the catalogue \"%1\"."};
    case Kind::MissingField:
        // %3 the field.
        return {"La tabella \"%2\" del catalogo \"%1\" non ha il campo \"%3\".",
                "There is no field \"%3\" in the table \"%2\" of the catalogue \"%1\"."};
    case Kind::NullField:
        // %4 the row, counted from 1.
        return {"Il campo \"%3\" della riga %4 è vuoto (null) nella tabella \"%2\" del catalogo "
                "\"%1\".",
                "The field \"%3\" of row %4 is null in the table \"%2\" of the catalogue \"%1\"."};
    case Kind::FieldTooLong:
        return {"Il campo \"%3\" della riga %4 è troppo lungo per essere letto nella tabella "
                "\"%2\" del catalogo \"%1\".",
                "The field \"%3\" of row %4 is too long to read in the table \"%2\" of the "
                "catalogue \"%1\"."};
    case Kind::Damaged:
        return {"Il catalogo \"%1\" è danneggiato e non può essere letto.",
                "The catalogue \"%1\" is damaged and cannot be read."};
    case Kind::UnfinishedChange:
        // %2 the unfinished change beside the catalogue.
        return {"Il catalogo \"%1\" ha accanto una modifica non terminata (%2): non è stato "
                "chiuso correttamente; ripristinarlo dalla sua origine.",
                "The catalogue \"%1\" has an unfinished change beside it (%2): it was not closed "
                "properly; restore it from its source."};
    // The build of a catalogue from SQL text, which only the command line runs.
    case Kind::StatementFailed:
        // %2 the engine's reason.
        return {"Catalogo \"%1\": %2.", "Catalogue \"%1\": %2."};
    case Kind::ScriptLineRefused:
        // %1 the line of the script, %2 the engine's reason.
        return {"riga %1: %2.", "line %1: %2."};
    case Kind::ScriptNotUtf8:
        return {"riga %1: il testo non è UTF-8.", "line %1: the text is not UTF-8."};
    case Kind::ScriptHoldsNul:
        return {"riga %1: il testo contiene un carattere NUL.",
                "line %1: the text holds a NUL character."};
    case Kind::BuildTargetNotRegularFile:
        return {"Impossibile costruire il catalogo \"%1\": non è un file regolare.",
                "Cannot build the catalogue \"%1\": it is not a regular file."};
    case Kind::BuildFailed:
        // %2 the failure that stopped the build, as worded already.
        return {"Impossibile costruire il catalogo \"%1\": %2",
                "Cannot build the catalogue \"%1\": %2"};
    case Kind::CannotWrite:
        return {"Impossibile scrivere il catalogo \"%1\".", "Cannot write the catalogue \"%1\"."};
    }
    return {"", ""};
}

int CatalogueError::argumentCount(Kind kind)
{
    // The highest placeholder of the text.
    const QString text = QString::fromUtf8(englishText(kind));
    int count = 0;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('%'))
            count = std::max(count, text.at(i + 1).digitValue());
    }
    return count;
}

CatalogueError::CatalogueError(Kind kind, const QStringList &arguments)
    : m_kind(kind)
    , m_arguments(arguments)
    , m_message(withArguments(QString::fromUtf8(englishText(kind)), arguments))
    , m_utf8(m_message.toUtf8())
{
    Q_ASSERT(arguments.size() == argumentCount(kind));
}

QString CatalogueError::message(Language language) const
{
    return withArguments(text(m_kind).in(language), m_arguments);
}

CatalogueError notACatalogue(const QString &fileName)
{
    return CatalogueError(CatalogueError::Kind::NotACatalogue, {absolute(fileName)});
}

CatalogueError missingTable(const QString &fileName, const QString &table)
{
    return CatalogueError(CatalogueError::Kind::MissingTable, {absolute(fileName), table});
}

CatalogueError damagedCatalogue(const QString &fileName)
{
    return CatalogueError(CatalogueError::Kind::Damaged, {absolute(fileName)});
}

CatalogueError unfinishedChange(const QString &fileName, const QString &journal)
{
    return CatalogueError(CatalogueError::Kind::UnfinishedChange, {absolute(fileName), journal});
}

CatalogueError catalogueFailure(CatalogueError::Kind kind,
                                const QString &fileName,
                                const QString &reason)
{
    QStringList arguments{absolute(fileName)};
    if (CatalogueError::argumentCount(kind) > 1)
        arguments.append(reason);
    return CatalogueError(kind, arguments);
}

CatalogueError noRows(const QString &fileName, const QString &table)
{
    return CatalogueError(CatalogueError::Kind::NoRows, {absolute(fileName), table});
}

CatalogueError missingField(const QString &fileName, const QString &table, const QString &field)
{
    return CatalogueError(CatalogueError::Kind::MissingField, {absolute(fileName), table, field});
}

CatalogueError nullField(const QString &fileName,
                         const QString &table,
                         const QString &field,
                         qsizetype row)
{
    return CatalogueError(CatalogueError::Kind::NullField,
                          {absolute(fileName), table, field, QString::number(row)});
}

} // namespace Kv402
