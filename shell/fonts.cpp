#include "shell/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace Kv402 {

QFont programFont(qreal pointSize, bool bold)
{
    static const QString family = [] {
        const QString original = QStringLiteral("MS Sans Serif");
        return QFontDatabase::families().contains(original) ? original
                                                            : QStringLiteral("Sans Serif");
    }();
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace Kv402
