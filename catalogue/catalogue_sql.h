#pragma once

#include <QString>

namespace Kv402 {

class CatalogueDatabase;

// The catalogue as SQL text: for every table a CREATE TABLE with text columns, then its rows in
// stored order. Building the text again gives a catalogue that reads the same rows.
QString dumpCatalogue(const CatalogueDatabase &catalogue);

// Writes an SQLCipher catalogue under the catalogue password from SQL text.
void buildCatalogue(const QString &sqlText, const QString &fileName);

} // namespace Kv402
