#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace Kv402 {

// A failure of the catalogue. The message says what failed and where: the file, and where it
// applies the table, the field and the row. The program shows it and ends.
class CatalogueError : public std::exception
{
public:
    explicit CatalogueError(const QString &message);

    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// The failures that every storage backend reports in the same words.
// The file cannot be opened as a catalogue: not a database, or refused the catalogue password.
CatalogueError notACatalogue(const QString &fileName);
CatalogueError missingTable(const QString &fileName, const QString &table);

} // namespace Kv402
