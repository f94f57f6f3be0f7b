#include "catalogue/catalogue_error.h"

namespace Kv402 {

CatalogueError::CatalogueError(const QString &message)
    : m_message(message)
    , m_utf8(message.toUtf8())
{}

} // namespace Kv402
