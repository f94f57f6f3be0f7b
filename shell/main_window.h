#pragma once

#include "bundle/bundle_check.h"
#include "link/terminal_link.h"
#include "load/load_prompts.h"
#include "load/load_session.h"
#include "load/load_texts.h"
#include "link/terminal_link.h"
#include "recordpush/record_pusher.h"
#include "shell/load_display.h"
#include "shell/message_box.h"
#include "shell/message_queue.h"
#include "shell/qt_translation.h"
#include "shell/settings_record.h"
#include "shell/texts.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

namespace Kv402 {

class CatalogueChoices;
class CatalogueError;
class ClockStatusBar;
class EditableList;
class FormAbout;
class HelpWindow;
class MessageBoxes;
class SerialPortFactory;
struct RevisionChoice;
struct VersionRows;

// The program's one working window. Its controls carry the names by which the whole program,
// and its tests, know them.
class frmMain : public QMainWindow, private LoadPrompts
{
    Q_OBJECT

public:
    // What the window works through; tests put their own in.
    struct Services
    {
        MessageBoxes *messages = nullptr;
        // What "COM1" to "COM16" are.
        SerialPortFactory *ports = nullptr;
        // How long a load run waits for the terminal.
        LinkLimits linkLimits = {};
        // The load record; empty: loads.jsonl in the program's data folder.
        QString recordFile = {};
    };

    explicit frmMain(const Services &services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: captions, settings record, catalogue, the revision list and its first entry.
    // Returns false when a failure ends the program: the program ends once its message has been
    // answered (main runs the event loop until then).
    bool Form_Load();

    // True once a failure has ended the program, or will when its message has been answered.
    bool hasFailed() const { return m_failed; }

    // The language test: Italian exactly when Label6 reads "Lingua".
    bool isItalian() const;
    Language language() const;

    // What step 2 of start-up read from the settings record.
    WindowGeometryTwips geometryRecordRead() const { return m_geometryRead; }

    // The catalogue state shared by the handlers.
    const QString &dataFile() const { return strDataFile; }

    // True from Send until the load has ended.
    bool isLoading() const { return m_session != nullptr; }
    // True while a message is on screen or waits its turn.
    bool isShowingMessage() const { return !m_messages.isEmpty(); }

    // Closes the window with nobody there to answer: a load in progress is stopped without
    // asking, every message is answered as its Escape key would, then the usual shutdown runs.
    void endSession();

Q_SIGNALS:
    // "Stop it and exit?" has been answered, and the window has closed or not by then.
    void exitQuestionAnswered();

public Q_SLOTS:
    void Combo1_Click();
    void Combo3_Click();
    void Combo4_Click();
    void Combo_Send_Click();
    void mnuFileExit_Click();
    void lngita_Click();
    void lngeng_Click();
    void mnuRunHlp_Click();
    void mnuAbout_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createControls();
    void createMenus();
    void connectHandlers();

    void Form_GotFocus();
    void Form_Unload();

    // Start-up's part of the catalogue: open it, list the revisions, choose the first.
    void openCatalogue();
    // The bodies of the list handlers. They throw CatalogueError; the handlers end the program
    // with it.
    void chooseRevision();
    void showRevisionChoice(const RevisionChoice &choice);
    void ShowDevices();
    void showVersionRows(const VersionRows &rows);
    void listPorts();
    template<typename Body>
    void guarded(Body body);

    // The load that Send starts: its messages, its display, its end.
    void ask(LoadSession *session, const LoadMessage &message) override;
    void withdraw(LoadSession *session) override;
    void loadFinished(LoadOutcome outcome);
    void recordRun(const LoadRun &run, const LoadChoice &choice, const PortAddress &port);
    void showDisplay(const LoadDisplay &display);
    void setLoading(bool loading);
    void showLoadingCaption();
    // Stops a load and waits for its thread, which never needs this one; for closing.
    void endLoad();
    void askToStopAndExit();

    // A catalogue failure ends the program: its message, then exit with a failure status.
    void fail(const CatalogueError &error);
    // Ends the program after a critical message.
    void failWith(const QString &text);
    // Adds a window to the program's other windows, which shutdown closes newest first.
    void addOtherWindow(QWidget *window);

    Services m_services;
    // Pushes the record after each load when the system's settings name a server; it outlives
    // the load, whose stop at the end is recorded.
    RecordPusher m_recordPusher;
    // Every message of the window, one on screen at a time.
    MessageQueue m_messages;
    // A catalogue failure ends the program without its shutdown, once its message has been
    // answered; until then nothing else may run the shutdown (endSession).
    bool m_failed = false;
    bool m_shownOnce = false;
    WindowGeometryTwips m_geometryRead;
    // The program's other windows, in the order they were opened.
    QList<QPointer<QWidget>> m_otherWindows;
    QPointer<FormAbout> m_aboutWindow;

    // The load running, from Send until it has ended; it is also the asker of its messages.
    std::unique_ptr<LoadSession> m_session;
    // What the counters and bars show.
    LoadDisplay m_display;
    QPointer<HelpWindow> m_helpWindow;
    QtTranslation m_qtTranslation;

    // The chosen version has a catalogue row in the chosen language, so strDataFile names its
    // data file.
    bool m_versionFound = false;
    // Ports that exist but that this user may not open, as the last port discovery found them.
    QStringList m_deniedPorts;
    // The signed bundle of the working folder, verified at start-up; none without a MANIFEST.
    std::optional<VerifiedBundle> m_bundle;

public:
    // The controls, by the names the rest of the program uses.
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
    EditableList *Combo1 = nullptr;
    QComboBox *Combo3 = nullptr;
    QComboBox *Combo4 = nullptr;
    EditableList *Combo_SerialPort = nullptr;
    QListWidget *List1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    QPushButton *Combo_Send = nullptr;
    QProgressBar *ProgressBar_Cicli = nullptr;
    QProgressBar *ProgressBar_Errori = nullptr;
    QLabel *Picture1 = nullptr;
    ClockStatusBar *sbStatusBar = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnuFileExit = nullptr;
    QMenu *sellng = nullptr;
    QAction *lngita = nullptr;
    QAction *lngeng = nullptr;
    QMenu *mnuHlp = nullptr;
    QAction *mnuRunHlp = nullptr;
    QAction *mnuAbout = nullptr;

private:
    // Form-level state: the catalogue's choices, opened at start-up, and the data file of the
    // chosen version and language.
    std::unique_ptr<CatalogueChoices> m_choices;
    QString strDataFile;
    // The revision whose catalogue table is the current one, and the one whose table gave
    // strDataFile. Combo1 takes typed text, so its text can name another revision, or none.
    QString m_tableRevision;
    QString m_dataFileRevision;
};

} // namespace Kv402
