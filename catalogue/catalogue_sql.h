#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Kv402 {

class CatalogueDatabase;

// The catalogue as SQL text: for every table a CREATE TABLE with text columns, then its rows in
// stored order. Building the text again gives a catalogue that reads the same rows. Columns that
// hold no text are left out, and so is a table that has no other; notes, when given, gets a line
// for each.
QString dumpCatalogue(const CatalogueDatabase &catalogue, QStringList *notes = nullptr);

// Writes an SQLCipher catalogue under the catalogue password from SQL text, as
// buildSqlCipherCatalogue() does; the bytes of a source file must be UTF-8.
void buildCatalogue(const QByteArray &script, const QString &fileName);
void buildCatalogue(const QString &sqlText, const QString &fileName);

} // namespace Kv402
