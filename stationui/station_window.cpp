#include "stationui/station_window.h"

#include "catalogue/catalogue_choices.h"
#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_error.h"
#include "link/srecord_image.h"
#include "load/load_texts.h"
#include "shell/about_window.h"
#include "shell/texts.h"
#include "shell/window_placement.h"
#include "station/pin_lock.h"
#include "stationui/station_window_texts.h"
#include "stationui/tile_widget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace Kv402 {

namespace {

Q_LOGGING_CATEGORY(stationLog, "kv402.station")

// Tiles a row of the tile area.
constexpr int TileColumns = 4;
// How often a tile's progress is drawn at most; a change of state is drawn at once.
constexpr int RepaintIntervalMs = 250;
// The hex digits of the data file's SHA-256 that the choice shows.
constexpr int ShownHashDigits = 16;
constexpr int ShortestPin = 4;

enum PortColumn { NameColumn, AdapterColumn, StateColumn, ArmColumn, ColumnCount };

// Filling a list from code raises no choice: the handler that fills it already knows it.
void showList(QComboBox *list, const ListContent &content)
{
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItems(content.entries);
    list->setCurrentIndex(content.selected);
}

QString armButtonName(const QString &port)
{
    return QStringLiteral("arm-%1").arg(port);
}

} // namespace

StationWindow::StationWindow(const Services &services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_messages(*services.messages, this)
    , m_loads(std::make_unique<StationLoads>(*services.ports,
                                             services.recordFile.isEmpty()
                                                 ? LoadRecord()
                                                 : LoadRecord(services.recordFile),
                                             services.program,
                                             services.linkLimits))
{
    setObjectName(QStringLiteral("StationWindow"));
    createControls();
    createMenus();

    m_repaint.setSingleShot(true);
    m_repaint.setInterval(RepaintIntervalMs);
    connect(&m_repaint, &QTimer::timeout, this, &StationWindow::drawChanged);
    m_drawSoon.setSingleShot(true);
    m_drawSoon.setInterval(0);
    connect(&m_drawSoon, &QTimer::timeout, this, &StationWindow::drawChanged);
    connect(m_loads.get(), &StationLoads::tileChanged, this, &StationWindow::tileChanged);
    connect(m_loads.get(), &StationLoads::totalsChanged, this, &StationWindow::drawTotals);
    connect(m_loads.get(), &StationLoads::allFinished, this, &StationWindow::updateControls);
    retranslate();
}

StationWindow::~StationWindow()
{
    // The loads end first, each recorded, while the window they report to still exists.
    if (m_loads)
        m_loads->disconnect(this);
    m_loads.reset();
}

void StationWindow::createControls()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);

    // The choice.
    choiceGroup = new QGroupBox(central);
    choiceGroup->setObjectName(QStringLiteral("choiceGroup"));
    revisionLabel = new QLabel(choiceGroup);
    revision = new QComboBox(choiceGroup);
    revision->setObjectName(QStringLiteral("revision"));
    versionLabel = new QLabel(choiceGroup);
    version = new QComboBox(choiceGroup);
    version->setObjectName(QStringLiteral("version"));
    languageLabel = new QLabel(choiceGroup);
    softwareLanguage = new QComboBox(choiceGroup);
    softwareLanguage->setObjectName(QStringLiteral("softwareLanguage"));
    revisionLabel->setBuddy(revision);
    versionLabel->setBuddy(version);
    languageLabel->setBuddy(softwareLanguage);
    useCatalogue = new QPushButton(choiceGroup);
    useCatalogue->setObjectName(QStringLiteral("useCatalogue"));
    chooseFileButton = new QPushButton(choiceGroup);
    chooseFileButton->setObjectName(QStringLiteral("chooseFile"));
    catalogueNote = new QLabel(choiceGroup);
    catalogueNote->setObjectName(QStringLiteral("catalogueNote"));
    catalogueNote->setWordWrap(true);
    chosenWhat = new QLabel(choiceGroup);
    chosenWhat->setObjectName(QStringLiteral("chosenWhat"));
    chosenFile = new QLabel(choiceGroup);
    chosenFile->setObjectName(QStringLiteral("chosenFile"));
    chosenFile->setWordWrap(true);
    chosenFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = chosenFile->font();
    bold.setBold(true);
    chosenFile->setFont(bold);

    auto *choiceLayout = new QGridLayout(choiceGroup);
    choiceLayout->addWidget(revisionLabel, 0, 0);
    choiceLayout->addWidget(revision, 0, 1);
    choiceLayout->addWidget(versionLabel, 1, 0);
    choiceLayout->addWidget(version, 1, 1);
    choiceLayout->addWidget(languageLabel, 2, 0);
    choiceLayout->addWidget(softwareLanguage, 2, 1);
    auto *choiceButtons = new QHBoxLayout;
    choiceButtons->addWidget(useCatalogue);
    choiceButtons->addWidget(chooseFileButton);
    choiceLayout->addLayout(choiceButtons, 3, 0, 1, 2);
    choiceLayout->addWidget(catalogueNote, 4, 0, 1, 2);
    choiceLayout->addWidget(chosenWhat, 5, 0, 1, 2);
    choiceLayout->addWidget(chosenFile, 6, 0, 1, 2);
    choiceLayout->setRowStretch(7, 1);

    // The ports.
    portsGroup = new QGroupBox(central);
    portsGroup->setObjectName(QStringLiteral("portsGroup"));
    portTable = new QTableWidget(0, ColumnCount, portsGroup);
    portTable->setObjectName(QStringLiteral("portTable"));
    portTable->verticalHeader()->hide();
    portTable->setSelectionMode(QAbstractItemView::NoSelection);
    portTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    portTable->horizontalHeader()->setSectionResizeMode(AdapterColumn, QHeaderView::Stretch);
    refreshButton = new QPushButton(portsGroup);
    refreshButton->setObjectName(QStringLiteral("refreshPorts"));
    auto *portsLayout = new QVBoxLayout(portsGroup);
    portsLayout->addWidget(portTable);
    portsLayout->addWidget(refreshButton, 0, Qt::AlignLeft);

    auto *top = new QHBoxLayout;
    top->addWidget(choiceGroup, 2);
    top->addWidget(portsGroup, 3);

    // The tiles.
    tileArea = new QWidget;
    tileArea->setObjectName(QStringLiteral("tiles"));
    tileGrid = new QGridLayout(tileArea);
    tileGrid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto *scroll = new QScrollArea(central);
    scroll->setObjectName(QStringLiteral("tileScroll"));
    scroll->setWidgetResizable(true);
    scroll->setWidget(tileArea);

    stopAllButton = new QPushButton(central);
    stopAllButton->setObjectName(QStringLiteral("stopAll"));
    QFont large = stopAllButton->font();
    large.setBold(true);
    stopAllButton->setFont(large);

    auto *layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addWidget(scroll, 1);
    layout->addWidget(stopAllButton, 0, Qt::AlignRight);

    // The footer: the session's totals, and the lock.
    totals = new QLabel(this);
    totals->setObjectName(QStringLiteral("totals"));
    lockState = new QLabel(this);
    lockState->setObjectName(QStringLiteral("lockState"));
    QPalette lockPalette = lockState->palette();
    lockPalette.setColor(QPalette::WindowText, QColor(0x6b, 0x0d, 0x05));
    lockState->setPalette(lockPalette);
    QFont lockFont = lockState->font();
    lockFont.setBold(true);
    lockState->setFont(lockFont);
    statusBar()->addWidget(totals, 1);
    statusBar()->addPermanentWidget(lockState);

    connect(revision, &QComboBox::activated, this, &StationWindow::chooseRevision);
    connect(useCatalogue, &QPushButton::clicked, this, &StationWindow::useCatalogueChoice);
    connect(chooseFileButton, &QPushButton::clicked, this, &StationWindow::chooseDataFile);
    connect(refreshButton, &QPushButton::clicked, this, &StationWindow::refreshPorts);
    connect(stopAllButton, &QPushButton::clicked, this, &StationWindow::stopAll);

    resize(1180, 800);
}

void StationWindow::createMenus()
{
    const auto action = [this](QMenu *menu, const char *name) {
        auto *created = menu->addAction(QString());
        created->setObjectName(QLatin1String(name));
        return created;
    };
    fileMenu = menuBar()->addMenu(QString());
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    exitAction = action(fileMenu, "exitAction");
    languageMenu = menuBar()->addMenu(QString());
    languageMenu->setObjectName(QStringLiteral("languageMenu"));
    englishAction = action(languageMenu, "englishAction");
    italianAction = action(languageMenu, "italianAction");
    supervisorMenu = menuBar()->addMenu(QString());
    supervisorMenu->setObjectName(QStringLiteral("supervisorMenu"));
    lockAction = action(supervisorMenu, "lockAction");
    unlockAction = action(supervisorMenu, "unlockAction");
    changePinAction = action(supervisorMenu, "changePinAction");
    helpMenu = menuBar()->addMenu(QString());
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpAction = action(helpMenu, "helpAction");
    aboutAction = action(helpMenu, "aboutAction");

    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    connect(englishAction, &QAction::triggered, this, [this] { setLanguage(Language::English); });
    connect(italianAction, &QAction::triggered, this, [this] { setLanguage(Language::Italian); });
    connect(lockAction, &QAction::triggered, this, &StationWindow::lockStation);
    connect(unlockAction, &QAction::triggered, this, &StationWindow::unlockStation);
    connect(changePinAction, &QAction::triggered, this, &StationWindow::changePin);
    connect(helpAction, &QAction::triggered, this, &StationWindow::showHelp);
    connect(aboutAction, &QAction::triggered, this, &StationWindow::showAbout);
}

void StationWindow::start()
{
    openCatalogue();
    refreshPorts();
    m_locked = m_settings.locked();
    // The window opens where it was left; the first time, centred at its own size.
    if (!restoreGeometry(m_settings.windowGeometry()))
        centreOnScreen(this);
    retranslate();
}

void StationWindow::setLanguage(Language language)
{
    m_language = language;
    m_qtTranslation.follow(language);
    m_loads->setLanguage(language);
    retranslate();
}

void StationWindow::retranslate()
{
    const Language l = m_language;
    setWindowTitle(StationWindowTexts::WindowTitle.in(l));
    fileMenu->setTitle(StationWindowTexts::FileMenu.in(l));
    exitAction->setText(StationWindowTexts::ExitAction.in(l));
    languageMenu->setTitle(StationWindowTexts::LanguageMenu.in(l));
    englishAction->setText(StationWindowTexts::EnglishAction.in(l));
    italianAction->setText(StationWindowTexts::ItalianAction.in(l));
    supervisorMenu->setTitle(StationWindowTexts::SupervisorMenu.in(l));
    lockAction->setText(StationWindowTexts::LockAction.in(l));
    unlockAction->setText(StationWindowTexts::UnlockAction.in(l));
    changePinAction->setText(StationWindowTexts::ChangePinAction.in(l));
    helpMenu->setTitle(StationWindowTexts::HelpMenu.in(l));
    helpAction->setText(StationWindowTexts::HelpAction.in(l));
    aboutAction->setText(StationWindowTexts::AboutAction.in(l));

    choiceGroup->setTitle(StationWindowTexts::ChoiceGroup.in(l));
    revisionLabel->setText(StationWindowTexts::RevisionLabel.in(l));
    versionLabel->setText(StationWindowTexts::VersionLabel.in(l));
    languageLabel->setText(StationWindowTexts::LanguageLabel.in(l));
    useCatalogue->setText(StationWindowTexts::UseCatalogueChoice.in(l));
    chooseFileButton->setText(StationWindowTexts::ChooseDataFile.in(l));
    catalogueNote->setText(m_catalogueProblem.isEmpty()
                               ? QString()
                               : StationWindowTexts::NoCatalogue.in(l).arg(m_catalogueProblem));
    catalogueNote->setVisible(!m_catalogueProblem.isEmpty());
    portsGroup->setTitle(StationWindowTexts::PortsGroup.in(l));
    portTable->setHorizontalHeaderLabels({StationWindowTexts::PortColumn.in(l),
                                          StationWindowTexts::AdapterColumn.in(l),
                                          StationWindowTexts::PortStateColumn.in(l),
                                          QString()});
    refreshButton->setText(StationWindowTexts::RefreshPorts.in(l));
    stopAllButton->setText(StationWindowTexts::StopAll.in(l));
    if (m_helpWindow) {
        m_helpWindow->setWindowTitle(StationWindowTexts::HelpTitle.in(l));
        if (auto *browser = m_helpWindow->findChild<QTextBrowser *>())
            browser->setHtml(StationWindowTexts::HelpText.in(l));
    }
    showChoice();
    updateControls();
    drawAll();
}

// The catalogue.

void StationWindow::openCatalogue()
{
    // A working folder with a signed bundle is checked before its catalogue is used: a changed
    // file leaves the station without the folder's catalogue and refuses its data files.
    WorkingFolderCheck bundle = checkWorkingFolder(QDir::currentPath(),
                                                   BundleTrust::standard(),
                                                   CatalogueHold::Exclusive);
    m_bundleRefusal = bundle.refusal;
    m_bundle = std::move(bundle.bundle);
    if (m_bundleRefusal) {
        m_choices.reset();
        m_catalogueProblem = m_bundleRefusal->text(m_language);
        qCWarning(stationLog).noquote() << "bundle:" << m_catalogueProblem;
        return;
    }
    try {
        m_choices = std::make_unique<CatalogueChoices>(QString(Catalogue::FileName));
        m_catalogueProblem.clear();
        revision->addItems(m_choices->revisions());
        if (revision->count() > 0) {
            revision->setCurrentIndex(0);
            showRevision(revision->currentText());
        }
    } catch (const CatalogueError &error) {
        catalogueFailed(error);
    }
}

void StationWindow::catalogueFailed(const CatalogueError &error)
{
    // The station goes on without its catalogue: a data file chosen directly still loads.
    m_choices.reset();
    m_catalogueProblem = withArguments(CatalogueError::text(error.kind()).in(m_language),
                                       error.arguments());
    revision->clear();
    version->clear();
    softwareLanguage->clear();
    qCWarning(stationLog).noquote() << "catalogue:" << m_catalogueProblem;
    retranslate();
}

void StationWindow::chooseRevision()
{
    showRevision(revision->currentText());
}

void StationWindow::showRevision(const QString &chosen)
{
    if (!m_choices)
        return;
    try {
        const RevisionChoice choice = m_choices->chooseRevision(chosen);
        version->clear();
        softwareLanguage->clear();
        const auto show = [this, choice] {
            if (choice.failureAfterMessage) {
                catalogueFailed(*choice.failureAfterMessage);
                return;
            }
            showList(version, choice.versions);
            showList(softwareLanguage, choice.languages);
            updateControls();
        };
        if (choice.message == RevisionChoice::Message::VersionNotAvailable) {
            m_messages.post({ChoiceTexts::VersionNotAvailable.in(m_language),
                             MessageButtons::Ok,
                             MessageIcon::Information},
                            [show](MessageAnswer) { show(); });
            return;
        }
        show();
    } catch (const CatalogueError &error) {
        catalogueFailed(error);
    }
}

void StationWindow::useCatalogueChoice()
{
    if (!m_choices || m_locked)
        return;
    const LoadChoice choice{revision->currentText(),
                            version->currentText(),
                            softwareLanguage->currentText()};
    VersionRows rows;
    try {
        if (version->currentIndex() >= 0 && softwareLanguage->currentIndex() >= 0)
            rows = m_choices->versionRows(choice.version, choice.language);
    } catch (const CatalogueError &error) {
        catalogueFailed(error);
        return;
    }
    if (!rows.found) {
        tell(ChoiceTexts::VersionNotInLanguage);
        return;
    }
    chooseFile(rows.dataFile, choice);
}

void StationWindow::chooseDataFile()
{
    if (m_locked)
        return;
    m_services.files->pick(this,
                           StationWindowTexts::DataFileDialogTitle.in(m_language),
                           StationWindowTexts::DataFileFilter.in(m_language),
                           QDir::currentPath(),
                           [this](const QString &file) {
                               if (!file.isEmpty())
                                   chooseFile(file, {});
                           });
}

void StationWindow::chooseFile(const QString &dataFile, const LoadChoice &choice)
{
    if (isLoading()) {
        tell(StationWindowTexts::ChoiceWhileLoading);
        return;
    }
    // A name without a folder is found in the working folder, as the loads find it.
    const QString path = QFileInfo(dataFile).absoluteFilePath();
    auto reading = std::make_shared<const DataFileReading>(readDataFile(dataFile));
    if (!reading->ok()) {
        LoadMessage unusable{LoadMessage::Kind::DataFileUnusable};
        unusable.file = QDir::toNativeSeparators(path);
        unusable.problem = reading->problem;
        unusable.line = reading->failureLine;
        unusable.column = reading->failureColumn;
        unusable.reason = reading->fileError;
        tellText(loadMessageText(unusable, m_language), MessageIcon::Critical);
        return;
    }
    if (reading->image.blockCount() < 1) {
        LoadMessage empty{LoadMessage::Kind::NoDataToLoad};
        empty.file = QDir::toNativeSeparators(path);
        tellText(loadMessageText(empty, m_language), MessageIcon::Critical);
        return;
    }
    // A file of a signed bundle loads only as the bundle released it: the working folder's
    // bundle was checked at start-up, another folder's is checked now (and a folder the policy
    // wants signed is refused without one).
    const QString folder = QFileInfo(path).absolutePath();
    WorkingFolderCheck bundle;
    if (folder == QDir(QDir::currentPath()).absolutePath()) {
        bundle.refusal = m_bundleRefusal;
        bundle.bundle = m_bundle;
    } else {
        bundle = checkWorkingFolder(folder);
    }
    if (!bundle.refusal && bundle.bundle)
        bundle.refusal = checkBundleFile(*bundle.bundle, dataFile, reading->sha256);
    if (bundle.refusal) {
        tellText(bundle.refusal->text(m_language), MessageIcon::Critical);
        return;
    }
    m_choiceBundle = bundle.origin();
    m_choiceReleasedSha256 = bundle.bundle ? releasedSha256(*bundle.bundle, dataFile) : QString();
    offerReading(reading, path, choice);
}

void StationWindow::offerReading(const std::shared_ptr<const DataFileReading> &reading,
                                 const QString &dataFile,
                                 const LoadChoice &choice)
{
    if (reading->wrongChecksumCount == 0) {
        commitChoice(reading, dataFile, choice);
        return;
    }
    // Known-corrupt data go into the terminals only if the technician says so, once, now: no
    // load asks in the middle of the line's work.
    LoadMessage question{LoadMessage::Kind::WrongChecksumQuestion,
                         MessageButtons::YesNo,
                         MessageAnswer::No};
    question.count = reading->wrongChecksumCount;
    question.lines = reading->wrongChecksumLines;
    m_messages.post({loadMessageText(question, m_language),
                     MessageButtons::YesNo,
                     MessageIcon::None,
                     MessageAnswer::No},
                    [this, reading, dataFile, choice](MessageAnswer answer) {
                        if (answer == MessageAnswer::Yes)
                            commitChoice(reading, dataFile, choice);
                    });
}

void StationWindow::commitChoice(const std::shared_ptr<const DataFileReading> &reading,
                                 const QString &dataFile,
                                 const LoadChoice &choice)
{
    StationChoice chosen{choice, dataFile, reading};
    chosen.bundle = m_choiceBundle;
    chosen.releasedSha256 = m_choiceReleasedSha256;
    if (!m_loads->setChoice(std::move(chosen))) {
        tell(StationWindowTexts::ChoiceWhileLoading);
        return;
    }
    m_chosenFile = dataFile;
    m_chosen = choice;
    m_chosenBlocks = reading->image.blockCount();
    m_chosenSha256 = reading->sha256;
    showChoice();
    updateControls();
}

void StationWindow::showChoice()
{
    const Language l = m_language;
    if (m_chosenFile.isEmpty()) {
        chosenWhat->setText(StationWindowTexts::NothingChosen.in(l));
        chosenFile->clear();
        return;
    }
    chosenWhat->setText(m_chosen.revision.isEmpty() && m_chosen.version.isEmpty()
                            ? StationWindowTexts::ChosenDirectly.in(l)
                            : StationWindowTexts::ChosenVersion.in(l).arg(m_chosen.revision,
                                                                          m_chosen.version,
                                                                          m_chosen.language));
    // The name says which file; the whole path is a hover away.
    chosenFile->setToolTip(QDir::toNativeSeparators(m_chosenFile));
    chosenFile->setText(StationWindowTexts::ChosenFile.in(l)
                            .arg(QFileInfo(m_chosenFile).fileName())
                            .arg(m_chosenBlocks)
                            .arg(m_chosenSha256.left(ShownHashDigits)));
}

// The ports and tiles.

void StationWindow::refreshPorts()
{
    if (m_locked)
        return;
    m_portList = m_services.portLister->list();
    portTable->setRowCount(0);
    portTable->setRowCount(int(m_portList.size()));
    for (int row = 0; row < m_portList.size(); ++row) {
        const StationPort &port = m_portList.at(row);
        const auto item = [](const QString &text) {
            auto *cell = new QTableWidgetItem(text);
            cell->setToolTip(text);
            return cell;
        };
        portTable->setItem(row, NameColumn, item(port.address.name));
        portTable->setItem(row, AdapterColumn, item(port.adapter));
        portTable->setItem(row, StateColumn, item(port.state));
        auto *arm = new QPushButton(portTable);
        arm->setObjectName(armButtonName(port.address.name));
        const QString name = port.address.name;
        connect(arm, &QPushButton::clicked, this, [this, name] { armPort(name); });
        portTable->setCellWidget(row, ArmColumn, arm);
    }
    portTable->resizeColumnToContents(NameColumn);
    // Ports that were not tried have no state to show.
    portTable->setColumnHidden(StateColumn,
                               std::all_of(m_portList.cbegin(),
                                           m_portList.cend(),
                                           [](const StationPort &port) {
                                               return port.state.isEmpty();
                                           }));
    updateControls();
}

bool StationWindow::armPort(const QString &port)
{
    if (m_locked)
        return false;
    if (!m_loads->choice()) {
        tell(StationWindowTexts::ArmNeedsChoice);
        return false;
    }
    if (!m_tiles.contains(port)) {
        const auto found = std::find_if(m_portList.cbegin(),
                                        m_portList.cend(),
                                        [&](const StationPort &entry) {
                                            return entry.address.name == port;
                                        });
        if (found == m_portList.cend())
            return false;
        m_loads->addPort(found->address, found->adapter);
        auto *tile = new TileWidget(port, tileArea);
        connect(tile, &TileWidget::stopClicked, this, &StationWindow::stopPort);
        connect(tile, &TileWidget::armClicked, this, [this](const QString &name) { armPort(name); });
        connect(tile, &TileWidget::serialEntered, this, &StationWindow::enterSerial);
        const int index = int(m_tiles.size());
        tileGrid->addWidget(tile, index / TileColumns, index % TileColumns);
        m_tiles.insert(port, tile);
    }
    const bool armed = m_loads->arm(port);
    drawTile(port);
    updateControls();
    return armed;
}

void StationWindow::stopPort(const QString &port)
{
    // Stopping is the operator's too: it works while the station is locked.
    m_loads->disarm(port);
    drawTile(port);
    updateControls();
}

void StationWindow::stopAll()
{
    m_loads->stopAll();
    drawAll();
}

void StationWindow::enterSerial(const QString &port, const QString &serial)
{
    const bool accepted = m_loads->setUnitSerial(port, serial);
    drawTile(port);
    if (TileWidget *tile = m_tiles.value(port)) {
        // A refused number stays selected, so that the next scan replaces it.
        if (!accepted)
            tile->unitSerial->selectAll();
    }
}

void StationWindow::tileChanged(const QString &port)
{
    TileWidget *tile = m_tiles.value(port);
    if (!tile)
        return;
    m_dirtyTiles.insert(port);
    const TileView &now = m_loads->tile(port);
    const TileView &shown = tile->shown();
    if (now.state != shown.state || now.notice != shown.notice || now.passed != shown.passed
        || now.failed != shown.failed || now.unitSerial != shown.unitSerial
        || now.blockCount != shown.blockCount) {
        if (!m_drawSoon.isActive())
            m_drawSoon.start();
    } else if (!m_repaint.isActive()) {
        m_repaint.start();
    }
}

void StationWindow::drawChanged()
{
    const QSet<QString> changed = std::exchange(m_dirtyTiles, {});
    for (const QString &port : changed)
        drawTile(port);
    drawTotals();
    updateControls();
}

void StationWindow::drawTile(const QString &port)
{
    if (TileWidget *tile = m_tiles.value(port))
        tile->draw(m_loads->tile(port), m_loads->armed(port), m_locked, m_language);
    m_dirtyTiles.remove(port);
}

void StationWindow::drawAll()
{
    for (auto tile = m_tiles.cbegin(); tile != m_tiles.cend(); ++tile)
        drawTile(tile.key());
    m_dirtyTiles.clear();
    drawTotals();
    updateControls();
}

void StationWindow::drawTotals()
{
    const StationTotals sum = m_loads->totals();
    const QString perHour = sum.terminalsPerHour
                                ? QLocale(m_language == Language::Italian ? QLocale::Italian
                                                                          : QLocale::English)
                                      .toString(*sum.terminalsPerHour, 'f', 1)
                                : QStringLiteral("—");
    const QString text = StationWindowTexts::Totals.in(m_language)
                             .arg(sum.passed)
                             .arg(sum.failed)
                             .arg(sum.stopped)
                             .arg(perHour);
    if (totals->text() != text)
        totals->setText(text);
}

bool StationWindow::isLoading() const
{
    return m_loads && m_loads->loading();
}

void StationWindow::updateControls()
{
    const bool loading = isLoading();
    const bool catalogue = bool(m_choices);
    // Locked, the operator cannot change what is loaded nor where; while loads run, the choice
    // stays as the loads have it.
    choiceGroup->setEnabled(!m_locked);
    for (QWidget *control : {static_cast<QWidget *>(revision),
                             static_cast<QWidget *>(version),
                             static_cast<QWidget *>(softwareLanguage),
                             static_cast<QWidget *>(useCatalogue)}) {
        control->setEnabled(catalogue && !loading);
    }
    chooseFileButton->setEnabled(!loading);
    portsGroup->setEnabled(!m_locked);
    for (const StationPort &port : std::as_const(m_portList)) {
        const QString name = port.address.name;
        auto *arm = portTable->findChild<QPushButton *>(armButtonName(name));
        if (!arm)
            continue;
        const bool armed = m_loads->armed(name);
        arm->setText(armed ? StationWindowTexts::PortArmed.in(m_language)
                           : StationWindowTexts::ArmPort.in(m_language));
        arm->setEnabled(!armed && !m_locked);
    }
    lockAction->setEnabled(!m_locked);
    unlockAction->setEnabled(m_locked);
    changePinAction->setEnabled(!m_locked);
    lockState->setText(m_locked ? StationWindowTexts::Locked.in(m_language) : QString());
    lockState->setVisible(m_locked);
    for (auto tile = m_tiles.cbegin(); tile != m_tiles.cend(); ++tile) {
        tile.value()->arm->setEnabled(!m_loads->armed(tile.key()) && !m_locked);
        tile.value()->stop->setEnabled(m_loads->armed(tile.key()));
    }
}

// The lock.

void StationWindow::setLocked(bool locked)
{
    m_locked = locked;
    updateControls();
}

void StationWindow::lockStation()
{
    if (m_locked)
        return;
    if (m_settings.pinHash().isEmpty()) {
        askNewPin(true);
        return;
    }
    QString error;
    if (!m_settings.setLocked(true, &error)) {
        tellText(StationWindowTexts::PinNotSaved.in(m_language).arg(error), MessageIcon::Critical);
        return;
    }
    setLocked(true);
}

void StationWindow::changePin()
{
    if (!m_locked)
        askNewPin(false);
}

void StationWindow::askNewPin(bool lockAfter)
{
    const QString title = StationWindowTexts::SupervisorMenu.in(m_language).remove(QLatin1Char('&'));
    m_services.pins
        ->ask(this,
              title,
              StationWindowTexts::NewPinPrompt.in(m_language),
              [this, title, lockAfter](const std::optional<QString> &pin) {
                  if (!pin)
                      return;
                  if (pin->size() < ShortestPin) {
                      tell(StationWindowTexts::PinTooShort, MessageIcon::Critical);
                      return;
                  }
                  m_services.pins->ask(
                      this,
                      title,
                      StationWindowTexts::RepeatPinPrompt.in(m_language),
                      [this, first = *pin, lockAfter](const std::optional<QString> &again) {
                          if (!again)
                              return;
                          if (*again != first) {
                              tell(StationWindowTexts::PinsDiffer, MessageIcon::Critical);
                              return;
                          }
                          QString error;
                          if (!m_settings.setPin(pinHash(first), lockAfter, &error)) {
                              tellText(StationWindowTexts::PinNotSaved.in(m_language).arg(error),
                                       MessageIcon::Critical);
                              return;
                          }
                          if (lockAfter)
                              setLocked(true);
                      });
              });
}

void StationWindow::unlockStation()
{
    if (!m_locked)
        return;
    m_services.pins->ask(this,
                         StationWindowTexts::SupervisorMenu.in(m_language).remove(QLatin1Char('&')),
                         StationWindowTexts::UnlockPinPrompt.in(m_language),
                         [this](const std::optional<QString> &pin) {
                             if (!pin || !m_locked)
                                 return;
                             if (!pinMatches(*pin, m_settings.pinHash())) {
                                 tell(StationWindowTexts::WrongPin, MessageIcon::Critical);
                                 return;
                             }
                             QString error;
                             // Unlocked for this run even so; started again, the station
                             // would be locked, which is the safe side.
                             if (!m_settings.setLocked(false, &error))
                                 qCWarning(stationLog).noquote() << error;
                             setLocked(false);
                         });
}

// Help, messages, closing.

void StationWindow::showHelp()
{
    if (!m_helpWindow) {
        auto *help = new QWidget(this, Qt::Window);
        help->setObjectName(QStringLiteral("helpWindow"));
        help->setAttribute(Qt::WA_DeleteOnClose);
        auto *browser = new QTextBrowser(help);
        browser->setObjectName(QStringLiteral("helpText"));
        auto *layout = new QVBoxLayout(help);
        layout->addWidget(browser);
        help->resize(560, 600);
        m_helpWindow = help;
    }
    m_helpWindow->setWindowTitle(StationWindowTexts::HelpTitle.in(m_language));
    m_helpWindow->findChild<QTextBrowser *>()->setHtml(StationWindowTexts::HelpText.in(m_language));
    bringToFront(m_helpWindow);
}

void StationWindow::showAbout()
{
    auto *about = new FormAbout;
    about->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &QObject::destroyed, about, &QWidget::close);
    about->show();
}

void StationWindow::tell(const Bilingual &text, MessageIcon icon)
{
    tellText(text.in(m_language), icon);
}

void StationWindow::tellText(const QString &text, MessageIcon icon)
{
    m_messages.post({text, MessageButtons::Ok, icon, MessageAnswer::Ok});
}

void StationWindow::saveWindowPlace()
{
    QString error;
    if (!m_settings.setWindowGeometry(saveGeometry(), &error))
        qCWarning(stationLog).noquote() << "the window's place was not saved:" << error;
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    // Leaving terminals half written is the technician's call.
    if (isLoading() && !m_closing) {
        // A second close while the question waits is answered by the question.
        if (!m_messages.holds(this)) {
            m_messages.post(
                {StationWindowTexts::StopAllAndExit.in(m_language),
                 MessageButtons::YesNo,
                 MessageIcon::None,
                 MessageAnswer::No},
                [this](MessageAnswer answer) {
                    if (answer == MessageAnswer::Yes) {
                        m_closing = true;
                        m_loads->stopAll();
                        // Inside the close that asked, this is that close; answered later, a
                        // new one.
                        close();
                    }
                    Q_EMIT exitQuestionAnswered();
                },
                this);
        }
        if (!m_closing) {
            event->ignore();
            return;
        }
    }
    m_loads->stopAll();
    m_messages.withdrawAll();
    if (m_helpWindow)
        m_helpWindow->close();
    saveWindowPlace();
    event->accept();
}

void StationWindow::endSession()
{
    m_closing = true;
    m_loads->stopAll();
    m_messages.withdrawAll();
    if (isVisible())
        close();
    else
        saveWindowPlace();
}

} // namespace Kv402
