#include "cli/commands.h"
#include "cli/output.h"

#include "load/load_texts.h"
#include "ports/port_identity.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace Kv402::Tool {

namespace {

// Stands in the table for what the system does not know.
const QLatin1StringView Unknown{"-"};

QString stateText(PortState state)
{
    switch (state) {
    case PortState::Free:
        return QStringLiteral("free");
    case PortState::InUse:
        return QStringLiteral("in use by another program");
    case PortState::NoPermission:
        return QStringLiteral("no permission (group dialout)");
    case PortState::Missing:
        return QStringLiteral("missing");
    case PortState::Other:
        break;
    }
    return QStringLiteral("cannot be opened");
}

// The state as a word for scripts.
QString stateKey(PortState state)
{
    switch (state) {
    case PortState::Free:
        return QStringLiteral("free");
    case PortState::InUse:
        return QStringLiteral("in-use");
    case PortState::NoPermission:
        return QStringLiteral("no-permission");
    case PortState::Missing:
        return QStringLiteral("missing");
    case PortState::Other:
        break;
    }
    return QStringLiteral("error");
}

QString hexId(const std::optional<quint16> &id)
{
    return id ? QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')) : QString();
}

QString orUnknown(const QString &text)
{
    return text.isEmpty() ? QString(Unknown) : text;
}

QString usbId(const PortIdentity &identity)
{
    if (!identity.vendorId && !identity.productId)
        return Unknown;
    return orUnknown(hexId(identity.vendorId)) + QLatin1Char(':')
           + orUnknown(hexId(identity.productId));
}

QString table(const QList<PortListing> &ports)
{
    QList<QStringList> rows{{QStringLiteral("NAME"),
                             QStringLiteral("DEVICE"),
                             QStringLiteral("STATE"),
                             QStringLiteral("USB ID"),
                             QStringLiteral("SERIAL NUMBER"),
                             QStringLiteral("MANUFACTURER"),
                             QStringLiteral("DESCRIPTION"),
                             QStringLiteral("STABLE PATH")}};
    for (const PortListing &port : ports) {
        const PortIdentity &id = port.identity;
        rows.append({orUnknown(id.name),
                     id.device,
                     stateText(port.state),
                     usbId(id),
                     orUnknown(id.serialNumber),
                     orUnknown(id.manufacturer),
                     orUnknown(id.description),
                     orUnknown(id.stablePath)});
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    QString text;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column)
            line += row[column].leftJustified(widths[column] + 2);
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue idOrNull(const std::optional<quint16> &id)
{
    return id ? QJsonValue(int(*id)) : QJsonValue();
}

QString json(const QList<PortListing> &ports)
{
    QJsonArray array;
    for (const PortListing &port : ports) {
        const PortIdentity &id = port.identity;
        array.append(QJsonObject{
            {QStringLiteral("name"), textOrNull(id.name)},
            {QStringLiteral("device"), id.device},
            {QStringLiteral("stablePath"), textOrNull(id.stablePath)},
            {QStringLiteral("description"), textOrNull(id.description)},
            {QStringLiteral("manufacturer"), textOrNull(id.manufacturer)},
            {QStringLiteral("vendorId"), idOrNull(id.vendorId)},
            {QStringLiteral("productId"), idOrNull(id.productId)},
            {QStringLiteral("serialNumber"), textOrNull(id.serialNumber)},
            {QStringLiteral("state"), stateKey(port.state)},
            {QStringLiteral("reason"), textOrNull(port.reason)},
        });
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

} // namespace

int portsCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("One JSON array of the ports."));
    parser.addOption(jsonOption);
    if (const std::optional<int> status = parseOptions(parser,
                                                       "kv402 ports",
                                                       arguments,
                                                       PortsUsage)) {
        return *status;
    }
    const bool asJson = parser.isSet(jsonOption);
    const QList<PortListing> ports = listPorts();
    if (asJson) {
        printOut(json(ports));
        return Success;
    }
    printOut(table(ports));
    const bool denied = std::any_of(ports.begin(), ports.end(), [](const PortListing &port) {
        return port.state == PortState::NoPermission;
    });
    if (denied)
        printOut(PortTexts::DialoutHint.in(Language::English) + QLatin1Char('\n'));
    return Success;
}

} // namespace Kv402::Tool
