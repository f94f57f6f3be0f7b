#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <exception>

namespace Kv402 {

// The English texts of the failures that the window words in its interface language. %1 is the
// catalogue, %2 the unfinished change beside it.
namespace CatalogueTexts {
inline constexpr char Damaged[] = "The catalogue \"%1\" is damaged and cannot be read.";
inline constexpr char UnfinishedChange[]
    = "The catalogue \"%1\" has an unfinished change beside it (%2): it was not closed properly; "
      "restore it from its source.";
} // namespace CatalogueTexts

// A failure of the catalogue. The message says what failed and where: the file, and where it
// applies the table, the field and the row. The program shows it and ends.
class CatalogueError : public std::exception
{
public:
    // The failures whose message the window words itself; any other is shown as it is.
    enum class Kind {
        Other,
        // The file cannot be read as a catalogue although it claims to be one: cut short,
        // overwritten, or with pages that lead outside it.
        Damaged,
        // An SQLCipher catalogue with the journal of a change that never finished beside it.
        UnfinishedChange,
    };

    explicit CatalogueError(const QString &message);
    // arguments fill the placeholders of the kind's text, in order.
    CatalogueError(Kind kind, const QString &message, const QStringList &arguments);

    Kind kind() const { return m_kind; }
    const QStringList &arguments() const { return m_arguments; }
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    Kind m_kind = Kind::Other;
    QString m_message;
    QStringList m_arguments;
    QByteArray m_utf8;
};

// The failures that every storage backend reports in the same words.
// The file cannot be opened as a catalogue: not a database, or refused the catalogue password.
CatalogueError notACatalogue(const QString &fileName);
CatalogueError missingTable(const QString &fileName, const QString &table);
CatalogueError damagedCatalogue(const QString &fileName);
// journal: the file of the unfinished change, beside the catalogue.
CatalogueError unfinishedChange(const QString &fileName, const QString &journal);

} // namespace Kv402
