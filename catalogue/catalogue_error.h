#pragma once

#include "language/bilingual.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <exception>

namespace Kv402 {

// A failure of the catalogue: its kind and the arguments that its text names (the file, and
// where it applies the table, the field, the row, the reason). The program shows it and ends.
class CatalogueError : public std::exception
{
public:
    enum class Kind {
        CannotOpen,
        NotRegularFile,
        // Another program, such as a second running copy of this one, holds the file.
        InUse,
        CannotHold,
        CannotSetKey,
        // Not a database, or the catalogue password does not open it.
        NotACatalogue,
        // An Access file of 2007 or later.
        AccessTooNew,
        TextsNotConvertible,
        CannotRead,
        MissingTable,
        NoRows,
        MissingField,
        NullField,
        FieldTooLong,
        // The file cannot be read as a catalogue although it claims to be one: cut short,
        // overwritten, or with pages that lead outside it.
        Damaged,
        // An SQLCipher catalogue with the journal of a change that never finished beside it.
        UnfinishedChange,
        StatementFailed,
        ScriptLineRefused,
        ScriptNotUtf8,
        ScriptHoldsNul,
        BuildTargetNotRegularFile,
        BuildFailed,
        CannotWrite,
    };
    static constexpr int KindCount = int(Kind::CannotWrite) + 1;

    // arguments fill the placeholders of the kind's text, in order.
    CatalogueError(Kind kind, const QStringList &arguments);

    Kind kind() const { return m_kind; }
    const QStringList &arguments() const { return m_arguments; }
    // The English sentence, for the command line.
    QString message() const { return m_message; }
    // The sentence in an interface language, for the window.
    QString message(Language language) const;
    const char *what() const noexcept override { return m_utf8.constData(); }

    // The words of a kind in both languages, with its placeholders: %1 is always the file, then
    // the table, the field, the row or the reason as the kind has them.
    static Bilingual text(Kind kind);
    // The English text of a kind, with its placeholders.
    static const char *englishText(Kind kind) { return text(kind).english; }
    // How many arguments a kind's text takes.
    static int argumentCount(Kind kind);

private:
    Kind m_kind;
    QStringList m_arguments;
    QString m_message;
    QByteArray m_utf8;
};

// text with %1 to %9 replaced by the arguments in one pass, so that an argument that holds a
// placeholder itself (a file named "%2") stays as it is.
QString withArguments(const QString &text, const QStringList &arguments);

// The failures that every storage backend reports in the same words. fileName is made absolute.
CatalogueError notACatalogue(const QString &fileName);
CatalogueError missingTable(const QString &fileName, const QString &table);
CatalogueError damagedCatalogue(const QString &fileName);
// journal: the file of the unfinished change, beside the catalogue.
CatalogueError unfinishedChange(const QString &fileName, const QString &journal);
// A failure that names a file and a reason.
CatalogueError catalogueFailure(CatalogueError::Kind kind,
                                const QString &fileName,
                                const QString &reason = QString());
// Failures of a table's rows. row counts from 1.
CatalogueError noRows(const QString &fileName, const QString &table);
CatalogueError missingField(const QString &fileName, const QString &table, const QString &field);
CatalogueError nullField(const QString &fileName,
                         const QString &table,
                         const QString &field,
                         qsizetype row);

} // namespace Kv402
