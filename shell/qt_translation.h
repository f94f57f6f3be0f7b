#pragma once

#include "shell/texts.h"

#include <memory>

class QTranslator;

namespace Kv402 {

// Qt's own texts in the interface language: the standard buttons of the message boxes (Yes, No,
// Cancel) and the reasons Qt gives. Qt ships no Italian texts for its serial-port module; those
// reasons stay as Qt words them, inside the program's own Italian sentences.
class QtTranslation
{
public:
    QtTranslation();
    ~QtTranslation();

    QtTranslation(const QtTranslation &) = delete;
    QtTranslation &operator=(const QtTranslation &) = delete;

    // Italian installs Qt's Italian texts for the whole program; English, Qt's own language,
    // removes them. False when Qt's texts for the language are not installed (the Debian package
    // qt6-translations-l10n); the program then goes on with Qt's English.
    bool follow(Language language);

private:
    std::unique_ptr<QTranslator> m_translator;
    bool m_installed = false;
};

} // namespace Kv402
