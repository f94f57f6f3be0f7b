// The Send command and its load runs: the data file read into the memory image, the image sent
// to the terminal on a thread of its own, and the display and messages that go with it.

#include "loader/link_run.h"
#include "loader/serial_port.h"
#include "loader/srecord_image.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace Kv402 {

namespace {

// Only the first wrong checksums are told one by one; the question that follows gives the count
// and their lines.
constexpr int CheckSumMessagesShown = 10;

const QString NoRevision = QStringLiteral("Version");

// A number as the display writes it: a blank in the place of the sign.
QString signedText(int number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

// " 3  of   12": the count, then N.
QString countOf(int count, int blockCount)
{
    return signedText(count) + QStringLiteral("  of  ") + signedText(blockCount);
}

} // namespace

void frmMain::Combo_Send_Click()
{
    // During a run the button stops it.
    if (m_run) {
        m_run->requestStop();
        Combo_Send->setEnabled(false);
        return;
    }
    if (Combo1->currentText() == NoRevision) {
        showMessage({Texts::NothingSelected.in(language())});
        return;
    }
    // Without a catalogue row for this version and language there is no data file: loading the
    // file of an earlier choice would put other software into the terminal.
    const bool chosen = Combo3->currentIndex() >= 0 && Combo4->currentIndex() >= 0;
    if (!chosen || !m_versionFound) {
        showMessage({chosen ? Texts::VersionNotInLanguage.in(language())
                            : Texts::VersionNotAvailable.in(language())});
        return;
    }
    showMessage({Texts::CheckCable.in(language())});
    LoadTerminal();
}

void frmMain::LoadTerminal()
{
    setLoading(true);

    MemoryImage image;
    if (!readImage(&image)) {
        setLoading(false);
        return;
    }

    // Text typed over the selected entry leaves no entry selected: the run never goes to a port
    // other than the one the window shows.
    const int selected = Combo_SerialPort->currentIndex();
    const bool shown = selected >= 0
                       && Combo_SerialPort->currentText() == Combo_SerialPort->itemText(selected);
    const std::optional<int> port = shown ? portNumberOf(Combo_SerialPort->itemText(selected))
                                          : std::nullopt;
    if (!port) {
        // Ports this user may not open are no help without the hint that lets them be used.
        if (m_deniedPorts.isEmpty()) {
            showMessage({Texts::NoPortSelected.in(language())});
        } else {
            showMessage(
                {Texts::PortsDenied.in(language()).arg(m_deniedPorts.join(QStringLiteral(", ")))
                 + QLatin1Char(' ') + Texts::DialoutHint.in(language())});
        }
        setLoading(false);
        return;
    }
    startLink(std::move(image), *port);
}

bool frmMain::readImage(MemoryImage *image)
{
    DataFileReading reading = readDataFile(strDataFile);
    const QString file = QFileInfo(strDataFile).absoluteFilePath();
    if (!reading.ok()) {
        showMessage({Texts::DataFileUnusable.in(language()).arg(file, dataFileProblem(reading))});
        return false;
    }

    const qsizetype wrong = reading.wrongChecksumLines.size();
    for (qsizetype i = 0; i < std::min<qsizetype>(wrong, CheckSumMessagesShown); ++i)
        showMessage({Texts::WrongChecksum.in(language())});
    // Known-corrupt data go into the terminal's flash only if the user says so.
    if (wrong > 0) {
        QStringList lines;
        for (qsizetype i = 0; i < std::min<qsizetype>(wrong, CheckSumMessagesShown); ++i)
            lines.append(QString::number(reading.wrongChecksumLines.at(i)));
        if (wrong > CheckSumMessagesShown)
            lines.append(Texts::MoreLines.in(language()));
        const Message question{Texts::WrongChecksumQuestion.in(language())
                                   .arg(QString::number(wrong), lines.join(QStringLiteral(", "))),
                               MessageButtons::YesNo,
                               MessageIcon::None,
                               MessageAnswer::No};
        if (showMessage(question) != MessageAnswer::Yes)
            return false;
    }

    if (reading.image.blockCount() < 1) {
        showMessage({Texts::NoDataToLoad.in(language()).arg(file)});
        return false;
    }
    *image = std::move(reading.image);
    return true;
}

QString frmMain::dataFileProblem(const DataFileReading &reading) const
{
    const Language current = language();
    const QString line = QString::number(reading.failureLine);
    switch (reading.problem) {
    case DataFileProblem::None:
        break;
    case DataFileProblem::FileMissing:
        return Texts::DataFileMissing.in(current);
    case DataFileProblem::FileUnreadable:
        return Texts::DataFileUnreadable.in(current).arg(reading.fileError);
    case DataFileProblem::NotHexDigit:
        return Texts::DataFileNotHexDigit.in(current).arg(line).arg(reading.failureColumn);
    case DataFileProblem::LineTooShort:
        return Texts::DataFileLineTooShort.in(current).arg(line);
    case DataFileProblem::CountBelowFour:
        return Texts::DataFileCountBelowFour.in(current).arg(line);
    case DataFileProblem::BeyondMemory:
        return Texts::DataFileBeyondMemory.in(current).arg(line);
    }
    return reading.failure;
}

void frmMain::startLink(MemoryImage image, int portNumber)
{
    m_flashWriteError = false;
    m_cableAnswer = MessageAnswer::Cancel;
    m_repeatAnswer = MessageAnswer::No;
    m_run = std::make_unique<LinkRun>(*m_services.ports,
                                      std::move(image),
                                      portNumber,
                                      m_services.linkLimits);
    connectLink();
    m_run->start();
}

void frmMain::connectLink()
{
    LinkRun *run = m_run.get();
    // Counters of an earlier run must not stand for this one while it waits for the terminal.
    // Up to the cable check the display stays as it is: Cancel there leaves it untouched.
    connect(run, &LinkRun::cableConnected, this, &frmMain::resetDisplay);
    connect(run, &LinkRun::headerAccepted, this, [this](int blockCount) {
        // A run after a port failure starts from empty bars.
        for (QProgressBar *bar : {ProgressBar_Cicli, ProgressBar_Errori}) {
            bar->setValue(bar->minimum());
            bar->setMaximum(blockCount);
        }
    });
    connect(run, &LinkRun::blockStarting, this, &frmMain::showCounters);
    connect(run, &LinkRun::blockAccepted, this, &frmMain::showCounters);
    // The error bar moves at each rejection; Text2 waits for the block's end.
    connect(run, &LinkRun::echoRejected, this, [this] { advance(ProgressBar_Errori); });
    connect(run, &LinkRun::blockWritten, this, [this] { advance(ProgressBar_Cicli); });

    // The link waits while these are answered. Closing the window answers them all with no;
    // while the exit question is on screen they wait for its answer (see closeEvent).
    connect(run, &LinkRun::cableNotConnected, this, [this] {
        answerWhenFree([this] {
            m_cableAnswer = showMessage(
                {Texts::CableNotConnected.in(language()), MessageButtons::OkCancel});
        });
    });
    connect(run, &LinkRun::portFailure, this, [this] {
        answerWhenFree([this] { showMessage({Texts::PortOutOfOrder.in(language())}); });
    });
    connect(run, &LinkRun::flashWriteError, this, [this] {
        m_flashWriteError = true;
        answerWhenFree([this] { showMessage({Texts::FlashWriteError.in(language())}); });
    });
    connect(run, &LinkRun::allBlocksDone, this, [this] {
        answerWhenFree([this] {
            if (!m_flashWriteError)
                showMessage({Texts::LoadCompleted.in(language())});
            m_repeatAnswer = showMessage({Texts::RepeatLoad.in(language()),
                                          MessageButtons::YesNo,
                                          MessageIcon::None,
                                          MessageAnswer::Yes});
        });
    });
    connect(run, &LinkRun::terminalNotAnswering, this, [this] {
        answerWhenFree([this] { showMessage({Texts::TerminalNotAnswering.in(language())}); });
    });
    connect(run, &LinkRun::portError, this, [this](const QString &reason) {
        const QString port = portName(m_run->portNumber());
        answerWhenFree([this, port, reason] {
            const QString why = reason.isEmpty() ? Texts::PortTakesNoMoreBytes.in(language())
                                                 : reason;
            showMessage({Texts::PortStoppedWorking.in(language()).arg(port, why)});
        });
    });
    connect(run, &LinkRun::finished, this, &frmMain::linkFinished);
}

void frmMain::answerWhenFree(const std::function<void()> &answer)
{
    if (m_closing)
        return;
    if (m_exitQuestionOpen) {
        m_heldMessages.append(answer);
        return;
    }
    answer();
}

void frmMain::linkFinished(LinkOutcome outcome)
{
    // The run is over and its port closed; its object goes once its signal has returned.
    const FinishedRun finished{outcome, m_run->portNumber(), m_run->openFailure()};
    m_run.release()->deleteLater();
    Combo_Send->setEnabled(true);
    if (m_closing)
        return;
    // No new run starts under the exit question: its answer comes first.
    if (m_exitQuestionOpen) {
        m_heldFinish = finished;
        return;
    }
    finishRun(finished);
}

void frmMain::finishRun(const FinishedRun &finished)
{
    switch (finished.outcome) {
    case LinkOutcome::CableNotConnected:
        if (m_cableAnswer == MessageAnswer::Ok) {
            LoadTerminal();
            return;
        }
        setLoading(false);
        Combo1->setFocus();
        return;
    case LinkOutcome::Completed:
    case LinkOutcome::FlashWriteError:
        resetDisplay();
        if (m_repeatAnswer == MessageAnswer::Yes) {
            LoadTerminal();
            return;
        }
        break;
    case LinkOutcome::Stopped:
        showMessage({Texts::LoadStopped.in(language())});
        break;
    case LinkOutcome::PortNotOpened:
        showMessage({portOpenFailureText(finished.portNumber, finished.openFailure)});
        break;
    case LinkOutcome::ImageNotSendable:
        showMessage(
            {Texts::NoDataToLoad.in(language()).arg(QFileInfo(strDataFile).absoluteFilePath())});
        break;
    case LinkOutcome::PortFailure:
    case LinkOutcome::TerminalNotAnswering:
    case LinkOutcome::PortError:
        // Told while the link waited; the display keeps what it showed.
        break;
    }
    setLoading(false);
}

QString frmMain::portOpenFailureText(int portNumber, const PortOpenFailure &failure) const
{
    const Language current = language();
    const QString port = portName(portNumber);
    const QString device = failure.device.isEmpty() ? port : failure.device;
    QString why;
    switch (failure.kind) {
    case PortOpenFailure::Kind::NoModemLines:
        return Texts::PortWithoutModemLines.in(current).arg(port);
    case PortOpenFailure::Kind::Missing:
        why = Texts::PortMissing.in(current).arg(device, failure.reason);
        break;
    case PortOpenFailure::Kind::AccessDenied:
        why = Texts::PortAccessDenied.in(current).arg(device, failure.reason) + QLatin1Char(' ')
              + Texts::DialoutHint.in(current);
        break;
    case PortOpenFailure::Kind::InUse:
        why = Texts::PortInUse.in(current).arg(device, failure.reason);
        break;
    case PortOpenFailure::Kind::Other:
        why = Texts::PortSystemReason.in(current).arg(device, failure.reason);
        break;
    }
    return Texts::PortOpenFailed.in(current).arg(port, why);
}

void frmMain::showCounters(const LinkCounters &counters)
{
    Text1->setText(countOf(counters.blocksDone, counters.blockCount));
    Text2->setText(countOf(counters.errors, counters.blockCount));
    Text1->repaint();
    Text2->repaint();
}

void frmMain::advance(QProgressBar *bar)
{
    // More rejections than blocks can come: the bar stops at its end.
    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void frmMain::resetDisplay()
{
    ProgressBar_Cicli->setValue(0);
    ProgressBar_Errori->setValue(0);
    Text1->clear();
    Text2->clear();
    for (QWidget *control : {static_cast<QWidget *>(Text1),
                             static_cast<QWidget *>(Text2),
                             static_cast<QWidget *>(ProgressBar_Cicli),
                             static_cast<QWidget *>(ProgressBar_Errori)}) {
        control->repaint();
    }
}

void frmMain::setLoading(bool loading)
{
    m_loading = loading;
    // The choices stay as they are while a run uses them.
    for (QWidget *list : {static_cast<QWidget *>(Combo1),
                          static_cast<QWidget *>(Combo3),
                          static_cast<QWidget *>(Combo4),
                          static_cast<QWidget *>(Combo_SerialPort)}) {
        list->setEnabled(!loading);
    }
    Combo_Send->setEnabled(true);
    showLoadingCaption();
}

void frmMain::showLoadingCaption()
{
    // The Send button stops a run; otherwise it carries its caption-set caption.
    if (m_loading)
        Combo_Send->setText(Texts::StopCaption.in(language()));
    else
        Combo_Send->setText(isItalian() ? QStringLiteral("Invia") : QStringLiteral("Send"));
}

void frmMain::stopRunAndWait()
{
    m_closing = true;
    if (!m_run || !m_run->isRunning())
        return;
    QEventLoop loop;
    connect(m_run.get(), &LinkRun::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    m_run->requestStop();
    loop.exec();
}

} // namespace Kv402
