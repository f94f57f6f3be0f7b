#include "shell/captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>

namespace Kv402 {

const CaptionSet StartupCaptions = {{
    {"Label1", "Communication Port"},
    {"Label2", "Communication Baud Rate"},
    {"Label3", "Number of Loops"},
    {"Label4", "Number of Errors"},
    {"Label5", "KV402 Software Revision"},
    {"Label6", "Language"},
    {"Label7", "Supported Devices"},
    {"Label10", "KV402 Firmware Revision"},
    {"Combo_Send", "Send"},
    {"mnuFile", "File"},
    {"mnuFileExit", "Exit"},
    {"mnuHlp", "Help"},
    {"mnuRunHlp", "Help Topics"},
    {"mnuAbout", "About KV402 Loader"},
    {"sellng", "Language selection"},
    {"lngeng", "English"},
    {"lngita", "Italian"},
}};

const CaptionSet EnglishCaptions = {{
    {"Label1", "Communication Port"},
    {"Label2", "Communication Baud Rate"},
    {"Label3", "Number of Loops"},
    {"Label4", "Number of Errors"},
    {"Label5", "KV402 Software Revision"},
    {"Label6", "Language"},
    {"Label7", "Supported Devices"},
    {"Label10", "KV402 Firmware Revision"},
    {"Combo_Send", "Send"},
    {"mnuFile", "File"},
    {"mnuFileExit", "Exit"},
    {"mnuHlp", "Help"},
    {"mnuRunHlp", "Help Topics"},
    {"mnuAbout", "About KV402 Loader..."},
    {"sellng", "Language Selection"},
    {"lngeng", "English"},
    {"lngita", "Italian"},
}};

const CaptionSet ItalianCaptions = {{
    {"Label1", "Porta Seriale"},
    {"Label2", "Velocità di Trasferimento"},
    {"Label3", "Cicli"},
    {"Label4", "Errori"},
    {"Label5", "Versione Software KV402"},
    {"Label6", "Lingua"},
    {"Label7", "Devices Gestiti"},
    {"Label10", " Versione Firmware "},
    {"Combo_Send", "Invia"},
    {"mnuFile", "File"},
    {"mnuFileExit", "Uscita"},
    {"mnuHlp", "Aiuto"},
    {"mnuRunHlp", "Argomenti Guida"},
    {"mnuAbout", "Informazioni"},
    {"sellng", " Selezione Lingua"},
    {"lngeng", "Inglese"},
    {"lngita", "Italiano"},
}};

QString captionOf(const QObject *control)
{
    if (const auto label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (const auto button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const auto menu = qobject_cast<const QMenu *>(control))
        return menu->title();
    if (const auto action = qobject_cast<const QAction *>(control))
        return action->text();
    return {};
}

void setCaptionOf(QObject *control, const QString &caption)
{
    if (const auto label = qobject_cast<QLabel *>(control))
        label->setText(caption);
    else if (const auto button = qobject_cast<QAbstractButton *>(control))
        button->setText(caption);
    else if (const auto menu = qobject_cast<QMenu *>(control))
        menu->setTitle(caption);
    else if (const auto action = qobject_cast<QAction *>(control))
        action->setText(caption);
}

void applyCaptionSet(QObject *window, const CaptionSet &set)
{
    for (const CaptionRow &row : set) {
        QObject *control = window->findChild<QObject *>(QString::fromLatin1(row.control));
        Q_ASSERT_X(control, "applyCaptionSet", row.control);
        setCaptionOf(control, QString::fromUtf8(row.caption));
    }
}

} // namespace Kv402
