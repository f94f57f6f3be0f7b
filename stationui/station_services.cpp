#include "stationui/station_services.h"

#include "ports/port_discovery.h"
#include "ports/port_identity.h"
#include "stationui/station_window_texts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

namespace Kv402 {

SystemPortLister::SystemPortLister(std::function<Language()> language)
    : m_language(std::move(language))
{}

QList<StationPort> SystemPortLister::list()
{
    QList<StationPort> ports;
    const Language language = m_language ? m_language() : Language::English;
    for (const PortListing &listing : listPorts()) {
        // COM numbers without a device behind them would fill the list with nothing to arm.
        if (listing.state == PortState::Missing)
            continue;
        const PortIdentity &identity = listing.identity;
        const QString name = identity.name.isEmpty() ? identity.device : identity.name;
        ports.append({PortAddress{name, identity.device},
                      describePort(identity),
                      StationWindowTexts::portState(listing.state).in(language)});
    }
    return ports;
}

FactoryPortLister::FactoryPortLister(SerialPortFactory &ports)
    : m_ports(ports)
{}

QList<StationPort> FactoryPortLister::list()
{
    QList<StationPort> ports;
    for (const FoundPort &found : discoverPorts(m_ports).ports)
        ports.append({found.address, found.description, {}});
    return ports;
}

void QtFilePicker::pick(QWidget *parent,
                        const QString &title,
                        const QString &filter,
                        const QString &folder,
                        Picked picked)
{
    if (m_open)
        m_open->close();
    auto *dialog = new QFileDialog(parent, title, folder, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_open = dialog;
    // Answered once: a file, or nothing when the dialog closes otherwise.
    auto answered = std::make_shared<bool>(false);
    QObject::connect(dialog,
                     &QFileDialog::fileSelected,
                     dialog,
                     [picked, answered](const QString &file) {
                         *answered = true;
                         picked(file);
                     });
    QObject::connect(dialog, &QDialog::finished, dialog, [picked, answered](int) {
        if (!std::exchange(*answered, true))
            picked(QString());
    });
    // open() shows the dialog window-modal without a loop of its own: the loads go on.
    dialog->open();
}

void QtPinEntry::ask(QWidget *parent, const QString &title, const QString &prompt, Entered entered)
{
    if (m_open)
        m_open->close();
    auto *dialog = new QInputDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setLabelText(prompt);
    dialog->setTextEchoMode(QLineEdit::Password);
    dialog->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    m_open = dialog;
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, entered](int result) {
        if (result == QDialog::Accepted)
            entered(dialog->textValue());
        else
            entered(std::nullopt);
    });
    dialog->open();
}

} // namespace Kv402
