// The Send command: a load session started with the window's choice, its display put into the
// counters and bars, its messages shown in the interface language.

#include "catalogue/catalogue_constants.h"
#include "load/load_record.h"
#include "load/load_session.h"
#include "ports/serial_port.h"
#include "shell/editable_list.h"
#include "shell/main_window.h"
#include "shell/message_box.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace Kv402 {

void frmMain::Combo_Send_Click()
{
    // During a load the button stops it.
    if (m_session) {
        m_session->stop();
        Combo_Send->setEnabled(false);
        return;
    }

    if (Combo1->currentText() == Catalogue::NoRevision) {
        m_messages.post({Texts::NothingSelected.in(language())});
        return;
    }
    // Without a catalogue row for this version and language there is no data file: loading the
    // file of an earlier choice would put other software into the terminal.
    const bool versionChosen = Combo3->currentIndex() >= 0 && Combo4->currentIndex() >= 0;
    if (!versionChosen || !m_versionFound) {
        m_messages.post({versionChosen ? Texts::VersionNotInLanguage.in(language())
                                       : Texts::VersionNotAvailable.in(language())});
        return;
    }

    LoadRequest request;
    request.dataFile = strDataFile;
    // From a bundle, the first run sends the very bytes found to be the released ones.
    if (m_bundle) {
        auto reading = std::make_shared<const DataFileReading>(readDataFile(strDataFile));
        if (const std::optional<BundleProblem> refusal
            = checkBundleFile(*m_bundle, strDataFile, reading->ok() ? reading->sha256 : QString())) {
            m_messages.post({refusal->text(language()), MessageButtons::Ok, MessageIcon::Critical});
            return;
        }
        request.firstReading = std::move(reading);
        request.releasedSha256 = releasedSha256(*m_bundle, strDataFile);
    }
    // Text typed over the selected entry leaves no entry selected: a load never goes to a port
    // other than the one the window shows. (Finishing the typing, with Enter or by leaving the
    // list, selects the entry whose name was typed exactly; the list then shows that port.)
    const int selected = Combo_SerialPort->currentIndex();
    if (selected >= 0 && Combo_SerialPort->currentText() == Combo_SerialPort->itemText(selected)) {
        if (const std::optional<int> number = portNumberOf(Combo_SerialPort->itemText(selected)))
            request.port = portAddress(*number);
    }
    m_display = {Text1->text(),
                 Text2->text(),
                 ProgressBar_Cicli->value(),
                 ProgressBar_Cicli->maximum(),
                 ProgressBar_Errori->value(),
                 ProgressBar_Errori->maximum()};

    LoadPrompts &prompts = *this;
    m_session = std::make_unique<LoadSession>(request,
                                              *m_services.ports,
                                              prompts,
                                              m_services.linkLimits);
    LoadSession *session = m_session.get();
    connect(session, &LoadSession::runStarting, this, [this] { setLoading(true); });
    connect(session, &LoadSession::linkEvent, this, [this](const LinkEvent &event) {
        showDisplay(displayAfter(m_display, event));
    });
    connect(session, &LoadSession::runFinished, this, [this](const LoadRun &run) {
        // A run that reached its completion leaves empty counters and bars.
        if (run.outcome == LinkOutcome::Completed || run.outcome == LinkOutcome::FlashWriteError)
            showDisplay(clearedDisplay(m_display));
    });
    // Every run is recorded with the choice it was made for: the revision is the one whose table
    // named the data file, whatever has been typed into Combo1 since. The record goes with the
    // session, not with the window's display: closing the window cuts the display off and still
    // records the run that its stop ends (endLoad).
    connect(session,
            &LoadSession::runFinished,
            session,
            [this,
             port = request.port.value_or(PortAddress()),
             choice = LoadChoice{m_dataFileRevision, Combo3->currentText(), Combo4->currentText()}](
                const LoadRun &run) { recordRun(run, choice, port); });
    connect(session, &LoadSession::finished, this, &frmMain::loadFinished);
    session->start();
}

void frmMain::recordRun(const LoadRun &run, const LoadChoice &choice, const PortAddress &port)
{
    // A record that cannot be written never stands in the way of a load: it is logged.
    const LoadRecord record(m_services.recordFile.isEmpty() ? LoadRecord::defaultFileName()
                                                            : m_services.recordFile);
    LoadRecordEntry entry = recordEntry(run, choice, port, m_services.ports->describe(port));
    // The program as it was started: kv402master, or its demo.
    entry.program = QCoreApplication::applicationName();
    if (m_bundle)
        entry.bundle = m_bundle->origin();
    QString why;
    if (!record.append(entry, &why))
        qWarning("Cannot write the load record %s: %s",
                 qPrintable(record.fileName()),
                 qPrintable(why));
    m_recordPusher.recordAppended();
}

void frmMain::ask(LoadSession *session, const LoadMessage &message)
{
    // The run waits for the answer; a message before it (such as "Stop it and exit?") comes
    // first. The session is the message's asker, which takes it back when it stops.
    m_messages.post(
        {loadMessageText(message, language(), m_deniedPorts),
         message.buttons,
         MessageIcon::None,
         message.defaultAnswer},
        [asking = QPointer<LoadSession>(session)](MessageAnswer answer) {
            if (asking)
                asking->answer(answer);
        },
        session);
}

void frmMain::withdraw(LoadSession *session)
{
    m_messages.withdraw(session);
}

void frmMain::loadFinished(LoadOutcome outcome)
{
    // The session's thread has ended and its port is closed; the object goes once its signal
    // has returned.
    m_session.release()->deleteLater();
    Combo_Send->setEnabled(true);
    switch (outcome) {
    case LoadOutcome::Stopped:
        // The window shows the stopped load until the message has been read.
        m_messages.post({Texts::LoadStopped.in(language())},
                        [this](MessageAnswer) { setLoading(false); });
        return;
    case LoadOutcome::CableCancelled:
        setLoading(false);
        Combo1->setFocus();
        return;
    default:
        break;
    }
    setLoading(false);
}

void frmMain::showDisplay(const LoadDisplay &display)
{
    m_display = display;
    ProgressBar_Cicli->setMaximum(display.blocksMaximum);
    ProgressBar_Cicli->setValue(display.blocks);
    ProgressBar_Errori->setMaximum(display.errorsMaximum);
    ProgressBar_Errori->setValue(display.errors);
    Text1->setText(display.blocksText);
    Text2->setText(display.errorsText);
    // The counters are drawn at once, whatever else the window is doing.
    Text1->repaint();
    Text2->repaint();
}

void frmMain::setLoading(bool loading)
{
    // The choices stay as they are while a run uses them; held still, they show that a load runs.
    for (QWidget *list : {static_cast<QWidget *>(Combo1),
                          static_cast<QWidget *>(Combo3),
                          static_cast<QWidget *>(Combo4),
                          static_cast<QWidget *>(Combo_SerialPort)}) {
        list->setEnabled(!loading);
    }
    showLoadingCaption();
}

void frmMain::showLoadingCaption()
{
    // While the lists show a load the Send button stops it; otherwise it carries its caption-set
    // caption.
    if (!Combo1->isEnabled())
        Combo_Send->setText(Texts::StopCaption.in(language()));
    else
        Combo_Send->setText(isItalian() ? QStringLiteral("Invia") : QStringLiteral("Send"));
}

void frmMain::endLoad()
{
    // Taken first: the stop withdraws the load's message, whose answer may bring this call again.
    const std::unique_ptr<LoadSession> session = std::move(m_session);
    if (!session)
        return;
    // Nothing of the session reaches the window's display any more; its thread ends within a
    // stop-check interval, without needing this thread.
    disconnect(session.get(), nullptr, this, nullptr);
    session->stop();
    session->wait();
    // The run that the stop ended has told its end through a queued call, still waiting for this
    // thread: delivered now, it is recorded before the program ends (a terminal left half loaded
    // is what the record most needs to tell).
    QCoreApplication::sendPostedEvents(session.get(), QEvent::MetaCall);
}

} // namespace Kv402
