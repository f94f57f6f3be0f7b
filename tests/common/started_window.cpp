#include "started_window.h"

#include <QComboBox>
#include <QListWidget>
#include <QSettings>
#include <QTest>

namespace Kv402::Test {

SettingsFolder::SettingsFolder()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
}

StartedWindow::StartedWindow(const QString &sql, const std::function<void(SimulatedPorts &)> &attach)
    : StartedWindow(Setup{sql, attach, {}, nullptr, {}})
{}

StartedWindow::StartedWindow(const Setup &setup)
{
    if (setup.attach)
        setup.attach(ports);
    for (auto file = setup.files.cbegin(); file != setup.files.cend(); ++file)
        workspace.writeFile(file.key(), file.value());
    window = std::make_unique<frmMain>(
        frmMain::Services{setup.boxes ? setup.boxes : &messages, &ports, setup.linkLimits});
    if (setup.sql.isEmpty())
        return;
    workspace.buildCatalogue(setup.sql);
    loaded = window->Form_Load();
}

QStringList entries(const QComboBox *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->itemText(i));
    return result;
}

QStringList entries(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->item(i)->text());
    return result;
}

void pick(QComboBox *list, const QString &text)
{
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(index >= 0, qPrintable(text));
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

} // namespace Kv402::Test
