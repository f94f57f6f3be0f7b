#pragma once

#include <QString>

namespace Kv402 {

// The interface languages. The window shows its texts in either; the command line in English.
enum class Language { English, Italian };

// A text in both interface languages. Some texts exist in Italian only and read the same in both.
struct Bilingual
{
    const char *italian;
    const char *english;

    QString in(Language language) const
    {
        return QString::fromUtf8(language == Language::Italian ? italian : english);
    }
};

} // namespace Kv402
