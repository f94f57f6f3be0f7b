#pragma once

#include "language/bilingual.h"

// Why a bundle is refused, in both languages: the window shows them in its interface language,
// the command line in English. %1 is always the file (or folder) concerned.
namespace Kv402::BundleTexts {

// %2 the system's reason.
inline constexpr Bilingual ManifestUnreadable{"Il manifesto %1 non può essere letto: %2",
                                              "The manifest %1 cannot be read: %2"};
// %2 the line.
inline constexpr Bilingual ManifestMalformed{"Il manifesto %1 non è valido alla riga %2",
                                             "The manifest %1 is not valid at line %2"};
inline constexpr Bilingual SignatureMissing{"Manca la firma %1 del manifesto",
                                            "The manifest's signature %1 is missing"};
// %2 the system's reason.
inline constexpr Bilingual SignatureUnreadable{"La firma %1 non può essere letta: %2",
                                               "The signature %1 cannot be read: %2"};
inline constexpr Bilingual SignatureMalformed{"Il file %1 non è una firma minisign",
                                              "The file %1 is not a minisign signature"};
// %2 the key id.
inline constexpr Bilingual
    UnknownKey{"La firma %1 è stata fatta con la chiave %2, che su questo PC non è attendibile",
               "The signature %1 was made with the key %2, which this PC does not trust"};
// %2 the manifest.
inline constexpr Bilingual
    SignatureInvalid{"La firma %1 non corrisponde al manifesto %2: uno dei due è stato modificato",
                     "The signature %1 does not match the manifest %2: one of them was changed"};
inline constexpr Bilingual FileMissing{"Il file %1 del pacchetto manca",
                                       "The bundle's file %1 is missing"};
// %2 the system's reason.
inline constexpr Bilingual FileUnreadable{"Il file %1 del pacchetto non può essere letto: %2",
                                          "The bundle's file %1 cannot be read: %2"};
inline constexpr Bilingual
    FileChanged{"Il file %1 non è quello rilasciato nel pacchetto: è stato modificato",
                "The file %1 is not the one the bundle was released with: it was changed"};
// %2 the manifest.
inline constexpr Bilingual NotListed{"Il file %1 non è elencato nel manifesto %2",
                                     "The file %1 is not listed in the manifest %2"};
inline constexpr Bilingual OutsideFolder{"Il file %1 è fuori dalla cartella del pacchetto",
                                         "The file %1 lies outside the bundle's folder"};
// %1 the manifest, %2 the bundle's name, %3 its revision, %4 the highest accepted.
inline constexpr Bilingual OlderRevision{
    "Il manifesto %1 porta il pacchetto \"%2\" alla revisione %3, più vecchia della revisione %4 "
    "già accettata su questo PC",
    "The manifest %1 gives the bundle \"%2\" revision %3, older than revision %4 already "
    "accepted on this PC"};
// %1 the folder.
inline constexpr Bilingual SignatureRequired{
    "La cartella %1 non contiene un pacchetto firmato (MANIFEST), e questo PC accetta solo "
    "pacchetti firmati",
    "The folder %1 holds no signed bundle (MANIFEST), and this PC accepts signed bundles only"};
// %2 what the catalogue says.
inline constexpr Bilingual
    CatalogueUnusable{"Il catalogo %1 del pacchetto non può essere letto: %2",
                      "The bundle's catalogue %1 cannot be read: %2"};

} // namespace Kv402::BundleTexts
