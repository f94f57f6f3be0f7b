#pragma once

#include <array>

class QObject;
class QString;

namespace Kv402 {

// One row of a caption set: the control's object name and its caption.
struct CaptionRow
{
    const char *control;
    const char *caption;
};

using CaptionSet = std::array<CaptionRow, 17>;

// The English set that start-up applies. It differs from the English menu set in the About and
// language-menu rows.
extern const CaptionSet StartupCaptions;
// The sets of the language menu's English and Italian entries.
extern const CaptionSet EnglishCaptions;
extern const CaptionSet ItalianCaptions;

// Assigns the captions of a set, one after the other in the order of its rows, to the labels,
// buttons, menus and menu entries below window that carry those object names.
void applyCaptionSet(QObject *window, const CaptionSet &set);

// The caption of a label, button, menu or menu entry.
QString captionOf(const QObject *control);
void setCaptionOf(QObject *control, const QString &caption);

} // namespace Kv402
