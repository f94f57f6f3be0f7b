#pragma once

#include "bundle/bundle_check.h"
#include "language/bilingual.h"
#include "link/terminal_link.h"
#include "load/load_run.h"
#include "shell/message_queue.h"
#include "shell/qt_translation.h"
#include "station/station_loads.h"
#include "stationui/station_services.h"
#include "stationui/station_settings.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QTextBrowser;

namespace Kv402 {

class CatalogueChoices;
class CatalogueError;
class TileWidget;
struct DataFileReading;

// The load station: one choice of what to load for every tile, the ports that can be armed, a
// tile for each armed port, the session's totals, and a supervisor's lock. Terminals plugged into
// an armed port are loaded at once; nothing in it waits for an answer while loads run.
class StationWindow : public QMainWindow
{
    Q_OBJECT

public:
    // What the window works through; tests and the demo put their own in.
    struct Services
    {
        MessageBoxes *messages = nullptr;
        // What stands behind the ports' names.
        SerialPortFactory *ports = nullptr;
        // The ports offered for arming.
        PortLister *portLister = nullptr;
        FilePicker *files = nullptr;
        PinEntry *pins = nullptr;
        LinkLimits linkLimits = {};
        // The load record; empty: loads.jsonl in the program's data folder.
        QString recordFile = {};
        // The name the record gives of the program.
        QString program = QStringLiteral("kv402station");
    };

    explicit StationWindow(const Services &services, QWidget *parent = nullptr);
    ~StationWindow() override;

    // Start-up: the captions, the catalogue of the working folder (a station without one can
    // still load a data file chosen directly), the ports, the lock and the window's place.
    void start();

    Language language() const { return m_language; }
    void setLanguage(Language language);

    StationLoads &loads() { return *m_loads; }
    bool isLoading() const;
    bool isShowingMessage() const { return !m_messages.isEmpty(); }
    bool isLocked() const { return m_locked; }
    // The tile of a port, once it has been armed.
    TileWidget *tile(const QString &port) const { return m_tiles.value(port); }
    // Draws every tile and the totals now, rather than at the next repaint.
    void drawAll();

    // Closes the window with nobody there to answer: every load is stopped and recorded, every
    // message answered as its Escape key would, the window's place saved.
    void endSession();

    // The handlers of the controls.
    void chooseRevision();
    void useCatalogueChoice();
    void chooseDataFile();
    // Reads the data file and, once accepted, makes it the choice of every tile.
    void chooseFile(const QString &dataFile, const LoadChoice &choice);
    void refreshPorts();
    bool armPort(const QString &port);
    void stopPort(const QString &port);
    void stopAll();
    void enterSerial(const QString &port, const QString &serial);
    void lockStation();
    void unlockStation();
    void changePin();
    void showHelp();
    void showAbout();

Q_SIGNALS:
    // "Stop them and exit?" has been answered, and the window has closed or not by then.
    void exitQuestionAnswered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    void retranslate();
    void openCatalogue();
    void catalogueFailed(const CatalogueError &error);
    void showRevision(const QString &revision);
    void offerReading(const std::shared_ptr<const DataFileReading> &reading,
                      const QString &dataFile,
                      const LoadChoice &choice);
    void commitChoice(const std::shared_ptr<const DataFileReading> &reading,
                      const QString &dataFile,
                      const LoadChoice &choice);
    void showChoice();
    void tileChanged(const QString &port);
    void drawChanged();
    void drawTile(const QString &port);
    void drawTotals();
    void updateControls();
    void setLocked(bool locked);
    void askNewPin(bool lockAfter);
    void tell(const Bilingual &text, MessageIcon icon = MessageIcon::Information);
    void tellText(const QString &text, MessageIcon icon);
    void saveWindowPlace();

    Services m_services;
    MessageQueue m_messages;
    StationSettings m_settings;
    std::unique_ptr<StationLoads> m_loads;
    std::unique_ptr<CatalogueChoices> m_choices;
    QString m_catalogueProblem;
    // The working folder's signed bundle, verified before its catalogue was opened; its refusal,
    // when it was refused: then nothing of the folder is loaded.
    std::optional<VerifiedBundle> m_bundle;
    std::optional<BundleProblem> m_bundleRefusal;
    // The bundle of the choice being made, for its loads' records and what they must send.
    BundleOrigin m_choiceBundle;
    QString m_choiceReleasedSha256;
    Language m_language = Language::English;
    QtTranslation m_qtTranslation;
    bool m_locked = false;
    bool m_closing = false;

    QList<StationPort> m_portList;
    QHash<QString, TileWidget *> m_tiles;
    // Tiles that changed since they were last drawn, drawn together: a change the operator acts
    // on (a state, a count, a notice) with the next pass of the event loop, so that sixteen
    // terminals plugged in together cost one pass; progress alone a few times a second, so that
    // sixteen loads do not repaint the window at every block.
    QSet<QString> m_dirtyTiles;
    QTimer m_drawSoon;
    QTimer m_repaint;
    QPointer<QWidget> m_helpWindow;

    // The choice shown.
    QString m_chosenFile;
    LoadChoice m_chosen;
    int m_chosenBlocks = 0;
    QString m_chosenSha256;

public:
    // The controls, by the names tests and the picture script know them.
    QGroupBox *choiceGroup = nullptr;
    QLabel *revisionLabel = nullptr;
    QComboBox *revision = nullptr;
    QLabel *versionLabel = nullptr;
    QComboBox *version = nullptr;
    QLabel *languageLabel = nullptr;
    QComboBox *softwareLanguage = nullptr;
    QPushButton *useCatalogue = nullptr;
    QPushButton *chooseFileButton = nullptr;
    QLabel *catalogueNote = nullptr;
    QLabel *chosenWhat = nullptr;
    QLabel *chosenFile = nullptr;
    QGroupBox *portsGroup = nullptr;
    QTableWidget *portTable = nullptr;
    QPushButton *refreshButton = nullptr;
    QPushButton *stopAllButton = nullptr;
    QWidget *tileArea = nullptr;
    QGridLayout *tileGrid = nullptr;
    QLabel *totals = nullptr;
    QLabel *lockState = nullptr;
    QMenu *fileMenu = nullptr;
    QAction *exitAction = nullptr;
    QMenu *languageMenu = nullptr;
    QAction *englishAction = nullptr;
    QAction *italianAction = nullptr;
    QMenu *supervisorMenu = nullptr;
    QAction *lockAction = nullptr;
    QAction *unlockAction = nullptr;
    QAction *changePinAction = nullptr;
    QMenu *helpMenu = nullptr;
    QAction *helpAction = nullptr;
    QAction *aboutAction = nullptr;
};

} // namespace Kv402
