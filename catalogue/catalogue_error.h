#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <exception>

namespace Kv402 {

// The English texts of the catalogue failures, as the command line prints them; the window words
// them in its interface language (shell/texts.h). The placeholders are the failure's arguments,
// in order: %1 is always the file, then as each text says.
namespace CatalogueTexts {
// %2 the system's reason.
inline constexpr char CannotOpen[] = "Cannot open the catalogue \"%1\": %2.";
inline constexpr char NotRegularFile[] = "Cannot open the catalogue \"%1\": it is not a regular "
                                         "file.";
inline constexpr char InUse[] = "Cannot open the catalogue \"%1\": it is in use by another program "
                                "(is KV402 Master already running?).";
// %2 the system's reason.
inline constexpr char CannotHold[] = "Cannot open the catalogue \"%1\" for exclusive use: %2.";
// %2 the engine's reason.
inline constexpr char CannotSetKey[] = "Cannot set the key of the catalogue \"%1\": %2.";
inline constexpr char NotACatalogue[]
    = "Cannot open the catalogue \"%1\": the file is not a catalogue database, or the catalogue "
      "password does not open it.";
inline constexpr char AccessTooNew[] = "Cannot open the catalogue \"%1\": it is a database of "
                                       "Access 2007 or later, which cannot be read.";
// %2 the character set.
inline constexpr char TextsNotConvertible[]
    = "Cannot open the catalogue \"%1\": its texts in %2 cannot be converted.";
// %2 the engine's or the system's reason.
inline constexpr char CannotRead[] = "Cannot read the catalogue \"%1\": %2.";
// %2 the table.
inline constexpr char MissingTable[] = "The catalogue \"%1\" has no table \"%2\".";
inline constexpr char NoRows[] = "There are no rows in the table \"%2\" of the catalogue \"%1\".";
// %3 the field.
inline constexpr char MissingField[]
    = "There is no field \"%3\" in the table \"%2\" of the catalogue \"%1\".";
// %4 the row, counted from 1.
inline constexpr char NullField[]
    = "The field \"%3\" of row %4 is null in the table \"%2\" of the catalogue \"%1\".";
inline constexpr char FieldTooLong[] = "The field \"%3\" of row %4 is too long to read in the "
                                       "table \"%2\" of the catalogue \"%1\".";
inline constexpr char Damaged[] = "The catalogue \"%1\" is damaged and cannot be read.";
// %2 the unfinished change beside the catalogue.
inline constexpr char UnfinishedChange[]
    = "The catalogue \"%1\" has an unfinished change beside it (%2): it was not closed properly; "
      "restore it from its source.";

// The build of a catalogue from SQL text, which only the command line runs.
// %2 the engine's reason.
inline constexpr char StatementFailed[] = "Catalogue \"%1\": %2.";
// %1 the line of the script, %2 the engine's reason.
inline constexpr char ScriptLineRefused[] = "line %1: %2.";
inline constexpr char ScriptNotUtf8[] = "line %1: the text is not UTF-8.";
inline constexpr char ScriptHoldsNul[] = "line %1: the text holds a NUL character.";
inline constexpr char BuildTargetNotRegularFile[]
    = "Cannot build the catalogue \"%1\": it is not a regular file.";
// %2 the failure that stopped the build, as worded already.
inline constexpr char BuildFailed[] = "Cannot build the catalogue \"%1\": %2";
inline constexpr char CannotWrite[] = "Cannot write the catalogue \"%1\".";
} // namespace CatalogueTexts

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
    const char *what() const noexcept override { return m_utf8.constData(); }

    // The English text of a kind, with its placeholders.
    static const char *englishText(Kind kind);
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
