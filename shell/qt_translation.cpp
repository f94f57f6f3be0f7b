#include "shell/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace Kv402 {

namespace {

// Qt's catalogue of its base modules' texts: Widgets' buttons and Core's reasons.
const QLatin1StringView QtBaseCatalogue{"qtbase"};
const QLatin1StringView CatalogueSeparator{"_"};

} // namespace

QtTranslation::QtTranslation()
    : m_translator(std::make_unique<QTranslator>())
{}

QtTranslation::~QtTranslation()
{
    if (m_installed)
        QCoreApplication::removeTranslator(m_translator.get());
}

bool QtTranslation::follow(Language language)
{
    if (m_installed) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_installed = false;
    }
    if (language == Language::English)
        return true;
    if (!m_translator->load(QLocale(QLocale::Italian),
                            QtBaseCatalogue,
                            CatalogueSeparator,
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    m_installed = QCoreApplication::installTranslator(m_translator.get());
    return m_installed;
}

} // namespace Kv402
