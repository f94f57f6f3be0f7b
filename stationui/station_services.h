#pragma once

#include "language/bilingual.h"
#include "ports/serial_port.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QWidget;
class QFileDialog;
class QInputDialog;

namespace Kv402 {

// A port the station can arm: where it is, what stands behind it, and whether it could be opened
// when it was listed.
struct StationPort
{
    PortAddress address;
    // The adapter's description and serial number, as `kv402 ports` tells them.
    QString adapter;
    // Whether the port could be opened, in words; empty where that was not tried.
    QString state;
};

// Lists the ports the station offers for arming.
class PortLister
{
public:
    virtual ~PortLister() = default;
    virtual QList<StationPort> list() = 0;
};

// COM1 to COM16 and every other serial device the system has, each with its adapter: those that
// exist, whether this user may open them or not (the state says so, in the language the window
// shows now).
class SystemPortLister : public PortLister
{
public:
    explicit SystemPortLister(std::function<Language()> language);
    QList<StationPort> list() override;

private:
    std::function<Language()> m_language;
};

// The ports of a factory that open: COM1 to COM16, each with what the factory tells of it. For the
// tests and the demo, whose terminals are simulated.
class FactoryPortLister : public PortLister
{
public:
    explicit FactoryPortLister(SerialPortFactory &ports);
    QList<StationPort> list() override;

private:
    SerialPortFactory &m_ports;
};

// Asks for a data file without a modal loop of its own: picked hears the file's path, or an empty
// text when the user cancelled.
class FilePicker
{
public:
    using Picked = std::function<void(const QString &)>;

    virtual ~FilePicker() = default;
    virtual void pick(QWidget *parent,
                      const QString &title,
                      const QString &filter,
                      const QString &folder,
                      Picked picked)
        = 0;
};

class QtFilePicker : public FilePicker
{
public:
    void pick(QWidget *parent,
              const QString &title,
              const QString &filter,
              const QString &folder,
              Picked picked) override;

private:
    QPointer<QFileDialog> m_open;
};

// Asks for a PIN, its characters hidden, without a modal loop of its own: entered hears the PIN,
// or nothing when the user cancelled.
class PinEntry
{
public:
    using Entered = std::function<void(const std::optional<QString> &)>;

    virtual ~PinEntry() = default;
    virtual void ask(QWidget *parent, const QString &title, const QString &prompt, Entered entered)
        = 0;
};

class QtPinEntry : public PinEntry
{
public:
    void ask(QWidget *parent, const QString &title, const QString &prompt, Entered entered) override;

private:
    QPointer<QInputDialog> m_open;
};

} // namespace Kv402
