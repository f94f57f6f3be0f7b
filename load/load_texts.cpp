#include "load/load_texts.h"

namespace Kv402 {

QString dataFileProblemText(
    DataFileProblem problem, qint64 line, int column, const QString &reason, Language language)
{
    const QString number = QString::number(line);
    switch (problem) {
    case DataFileProblem::None:
        break;
    case DataFileProblem::FileMissing:
        return DataFileTexts::Missing.in(language);
    case DataFileProblem::FileUnreadable:
        return DataFileTexts::Unreadable.in(language).arg(reason);
    case DataFileProblem::NotHexDigit:
        return DataFileTexts::NotHexDigit.in(language).arg(number).arg(column);
    case DataFileProblem::LineTooShort:
        return DataFileTexts::LineTooShort.in(language).arg(number);
    case DataFileProblem::CountBelowFour:
        return DataFileTexts::CountBelowFour.in(language).arg(number);
    case DataFileProblem::BeyondMemory:
        return DataFileTexts::BeyondMemory.in(language).arg(number);
    case DataFileProblem::NotAsReleased:
        return DataFileTexts::NotAsReleased.in(language);
    }
    return reason;
}

QString portOpenFailureReason(const QString &port, const PortOpenFailure &failure, Language language)
{
    const QString device = failure.device.isEmpty() ? port : failure.device;
    switch (failure.kind) {
    case PortOpenFailure::Kind::NoModemLines:
        return PortTexts::WithoutModemLines.in(language).arg(port);
    case PortOpenFailure::Kind::Missing:
        return PortTexts::Missing.in(language).arg(device, failure.reason);
    case PortOpenFailure::Kind::AccessDenied:
        return PortTexts::AccessDenied.in(language).arg(device, failure.reason) + QLatin1Char(' ')
               + PortTexts::DialoutHint.in(language);
    case PortOpenFailure::Kind::InUse:
        return PortTexts::InUse.in(language).arg(device, failure.reason);
    case PortOpenFailure::Kind::Other:
        break;
    }
    return PortTexts::SystemReason.in(language).arg(device, failure.reason);
}

QString portOpenFailureText(const QString &port, const PortOpenFailure &failure, Language language)
{
    // A port without modem lines is the whole message.
    if (failure.kind == PortOpenFailure::Kind::NoModemLines)
        return portOpenFailureReason(port, failure, language);
    return PortTexts::OpenFailed.in(language).arg(port,
                                                  portOpenFailureReason(port, failure, language));
}

QString loadMessageText(const LoadMessage &message,
                        Language language,
                        const QStringList &deniedPorts)
{
    using Kind = LoadMessage::Kind;
    switch (message.kind) {
    case Kind::CheckCable:
        return LoadTexts::CheckCable.in(language);
    case Kind::WrongChecksum:
        return LoadTexts::WrongChecksum.in(language);
    case Kind::WrongChecksumQuestion: {
        QStringList lines;
        for (const qint64 line : message.lines)
            lines.append(QString::number(line));
        if (message.count > message.lines.size())
            lines.append(LoadTexts::MoreLines.in(language));
        return LoadTexts::WrongChecksumQuestion.in(language).arg(QString::number(message.count),
                                                                 lines.join(QStringLiteral(", ")));
    }
    case Kind::DataFileUnusable:
        return LoadTexts::DataFileUnusable.in(language).arg(message.file,
                                                            dataFileProblemText(message.problem,
                                                                                message.line,
                                                                                message.column,
                                                                                message.reason,
                                                                                language));
    case Kind::NoDataToLoad:
        return LoadTexts::NoDataToLoad.in(language).arg(message.file);
    case Kind::NoPortSelected:
        // Ports this user may not open are no help without the hint that lets them be used.
        if (deniedPorts.isEmpty())
            return LoadTexts::NoPortSelected.in(language);
        return LoadTexts::PortsDenied.in(language).arg(deniedPorts.join(QStringLiteral(", ")))
               + QLatin1Char(' ') + PortTexts::DialoutHint.in(language);
    case Kind::PortNotOpened:
        return portOpenFailureText(message.port, message.openFailure, language);
    case Kind::CableNotConnected:
        return LoadTexts::CableNotConnected.in(language);
    case Kind::PortOutOfOrder:
        return LoadTexts::PortOutOfOrder.in(language);
    case Kind::FlashWriteError:
        return LoadTexts::FlashWriteError.in(language);
    case Kind::LoadCompleted:
        return LoadTexts::LoadCompleted.in(language);
    case Kind::RepeatLoad:
        return LoadTexts::RepeatLoad.in(language);
    case Kind::TerminalNotAnswering:
        return LoadTexts::TerminalNotAnswering.in(language);
    case Kind::PortStoppedWorking:
        return LoadTexts::PortStoppedWorking.in(language)
            .arg(message.port,
                 message.reason.isEmpty() ? LoadTexts::PortTakesNoMoreBytes.in(language)
                                          : message.reason);
    }
    return {};
}

} // namespace Kv402
