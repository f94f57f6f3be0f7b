#include "catalogue/catalogue_db.h"

#include "catalogue/catalogue_constants.h"
#include "catalogue/catalogue_file.h"
#include "catalogue/exclusive_hold.h"
#include "catalogue/jet_password.h"
#include "catalogue/jet_storage.h"
#include "catalogue/sqlcipher_storage.h"

#include <QDateTime>
#include <QFileInfo>

#include <mutex>

namespace Kv402 {

namespace {

// An open storage, with what identifies the file state it was opened on.
struct OpenStorage
{
    QString path;
    QDateTime modified;
    qint64 size = 0;
    std::weak_ptr<CatalogueStorage> storage;
};

std::mutex openStoragesMutex;
QList<OpenStorage> openStorages;

bool isJetFile(const QString &fileName)
{
    return Jet::hasAccessSignature(CatalogueFile(fileName).readStart(Jet::HeaderBytes));
}

} // namespace

int TableData::columnIndex(const QString &column) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).compare(column, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

CatalogueDatabase::CatalogueDatabase(QString fileName, std::shared_ptr<CatalogueStorage> storage)
    : m_fileName(std::move(fileName))
    , m_storage(std::move(storage))
{}

CatalogueDatabase::~CatalogueDatabase() = default;

std::unique_ptr<CatalogueDatabase> CatalogueDatabase::open(const QString &fileName,
                                                           CatalogueHold hold)
{
    holdFile(fileName, hold);

    const QFileInfo file(fileName);
    const QString path = file.absoluteFilePath();
    const QDateTime modified = file.lastModified();
    const qint64 size = file.size();

    const std::lock_guard lock(openStoragesMutex);
    openStorages.removeIf([](const OpenStorage &open) { return open.storage.expired(); });
    for (const OpenStorage &open : std::as_const(openStorages)) {
        if (open.path == path && open.modified == modified && open.size == size) {
            if (std::shared_ptr<CatalogueStorage> storage = open.storage.lock())
                return std::make_unique<CatalogueDatabase>(fileName, std::move(storage));
        }
    }

    std::shared_ptr<CatalogueStorage> storage;
    // An Access catalogue is read as it is; anything else is an SQLCipher catalogue.
    if (isJetFile(fileName)) {
        storage = std::make_shared<JetStorage>(fileName, QString(Catalogue::Password));
    } else {
        const QByteArray key(Catalogue::Password.data(), Catalogue::Password.size());
        storage = std::make_shared<SqlCipherStorage>(fileName, key);
    }
    openStorages.append({path, modified, size, storage});
    return std::make_unique<CatalogueDatabase>(fileName, std::move(storage));
}

} // namespace Kv402
