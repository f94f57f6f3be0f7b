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

const char *CatalogueError::englishText(Kind kind)
{
    switch (kind) {
    case Kind::CannotOpen:
        return CatalogueTexts::CannotOpen;
    case Kind::NotRegularFile:
        return CatalogueTexts::NotRegularFile;
    case Kind::InUse:
        return CatalogueTexts::InUse;
    case Kind::CannotHold:
        return CatalogueTexts::CannotHold;
    case Kind::CannotSetKey:
        return CatalogueTexts::CannotSetKey;
    case Kind::NotACatalogue:
        return CatalogueTexts::NotACatalogue;
    case Kind::AccessTooNew:
        return CatalogueTexts::AccessTooNew;
    case Kind::TextsNotConvertible:
        return CatalogueTexts::TextsNotConvertible;
    case Kind::CannotRead:
        return CatalogueTexts::CannotRead;
    case Kind::MissingTable:
        return CatalogueTexts::MissingTable;
    case Kind::NoRows:
        return CatalogueTexts::NoRows;
    case Kind::MissingField:
        return CatalogueTexts::MissingField;
    case Kind::NullField:
        return CatalogueTexts::NullField;
    case Kind::FieldTooLong:
        return CatalogueTexts::FieldTooLong;
    case Kind::Damaged:
        return CatalogueTexts::Damaged;
    case Kind::UnfinishedChange:
        return CatalogueTexts::UnfinishedChange;
    case Kind::StatementFailed:
        return CatalogueTexts::StatementFailed;
    case Kind::ScriptLineRefused:
        return CatalogueTexts::ScriptLineRefused;
    case Kind::ScriptNotUtf8:
        return CatalogueTexts::ScriptNotUtf8;
    case Kind::ScriptHoldsNul:
        return CatalogueTexts::ScriptHoldsNul;
    case Kind::BuildTargetNotRegularFile:
        return CatalogueTexts::BuildTargetNotRegularFile;
    case Kind::BuildFailed:
        return CatalogueTexts::BuildFailed;
    case Kind::CannotWrite:
        return CatalogueTexts::CannotWrite;
    }
    return "";
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
