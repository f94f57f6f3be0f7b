#pragma once

#include "scripted_messages.h"
#include "workspace.h"

#include "link/terminal_link.h"
#include "shell/main_window.h"
#include "simulator/simulated_terminal.h"

#include <QMap>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace Kv402::Test {

// The settings record of the tests, in a folder of its own while the object lives.
class SettingsFolder
{
public:
    SettingsFolder();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// A main window started in a workspace of its own: its catalogue built from SQL, its messages
// scripted, simulated terminals behind the ports a test attaches, and Form_Load run.
struct StartedWindow
{
    struct Setup
    {
        // The catalogue. Without it the window is made but not started: the test puts its own
        // catalogue in place and runs Form_Load itself.
        QString sql;
        // Attaches terminals (or holds ports) before start-up tries the ports; no port opens
        // otherwise.
        std::function<void(SimulatedPorts &)> attach;
        // Files put into the workspace before start-up, by name.
        QMap<QString, QByteArray> files;
        // Message boxes other than the scripted ones.
        MessageBoxes *boxes = nullptr;
        LinkLimits linkLimits = {};
    };

    explicit StartedWindow(const QString &sql,
                           const std::function<void(SimulatedPorts &)> &attach = {});
    explicit StartedWindow(const Setup &setup);

    template<typename T = QWidget>
    T *control(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }

    Workspace workspace;
    ScriptedMessages messages;
    SimulatedPorts ports;
    std::unique_ptr<frmMain> window;
    // Form_Load ran and succeeded.
    bool loaded = false;
};

// The entries of a list, in order.
QStringList entries(const QComboBox *list);
QStringList entries(const QListWidget *list);

// The user picks the entry with this text.
void pick(QComboBox *list, const QString &text);

} // namespace Kv402::Test
