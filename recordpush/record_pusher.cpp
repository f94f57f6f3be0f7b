#include "recordpush/record_pusher.h"

#include "recordpush/record_push.h"
#include "recordpush/record_settings.h"

#include <system_error>

namespace Kv402 {

namespace {

// A server that does not answer must not hold up the end of a program for long.
constexpr std::chrono::seconds BackgroundConnectTimeout{5};

} // namespace

RecordPusher::RecordPusher(QString recordFile, QString program)
    : m_recordFile(std::move(recordFile))
    , m_program(std::move(program))
{}

RecordPusher::~RecordPusher()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_poked.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void RecordPusher::recordAppended()
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending = true;
        // The thread is started by the first load, in a program that loads; a system out of
        // threads leaves the record unpushed, never the load failed.
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&RecordPusher::work, this);
            } catch (const std::system_error &error) {
                qWarning("%s: the load record cannot be pushed: %s",
                         qPrintable(m_program),
                         error.what());
                return;
            }
        }
    }
    m_poked.notify_one();
}

void RecordPusher::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_poked.wait(lock, [this] { return m_pending || m_ending; });
        if (!m_pending)
            return;
        // Loads that end during a push are taken by the next one.
        m_pending = false;
        lock.unlock();
        push();
        lock.lock();
    }
}

void RecordPusher::push()
{
    RecordSettings settings;
    QString why;
    if (!readRecordSettings(&settings, &why)) {
        qWarning("%s: cannot read the record settings %s: %s",
                 qPrintable(m_program),
                 qPrintable(recordSettingsFile()),
                 qPrintable(why));
        return;
    }
    if (settings.server.isEmpty())
        return;
    // Told without the address, which may carry the very password that is refused.
    if (const QString refusal = serverRefusal(settings.server); !refusal.isEmpty()) {
        qWarning("%s: the server of %s cannot be used: %s",
                 qPrintable(m_program),
                 qPrintable(recordSettingsFile()),
                 qPrintable(refusal));
        return;
    }
    const PushResult result = pushRecord(m_recordFile, settings.server, BackgroundConnectTimeout);
    if (!result.recordError.isEmpty()) {
        why = QStringLiteral("cannot read the record: %1").arg(result.recordError);
    } else if (!result.problems.isEmpty()) {
        why = result.problems.join(QStringLiteral("; "));
    } else {
        return;
    }
    qWarning("%s: the load record %s could not be pushed to %s: %s; it is pushed again after the "
             "next load",
             qPrintable(m_program),
             qPrintable(m_recordFile),
             qPrintable(settings.server),
             qPrintable(why));
}

} // namespace Kv402
