#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Kv402 {

// The push after every load, for the fronts that record loads: when the system's record settings
// name a server, each poke pushes the record there on a thread of its own, so that a load is
// never delayed or failed by it. A push that fails is logged and made again at the next poke.
class RecordPusher
{
public:
    // program: the name the messages begin with ("kv402 send").
    RecordPusher(QString recordFile, QString program);
    // Waits for the push underway and one asked for since, so that the last load of a program
    // that ends reaches the server.
    ~RecordPusher();
    RecordPusher(const RecordPusher &) = delete;
    RecordPusher &operator=(const RecordPusher &) = delete;

    // A line has been appended to the record.
    void recordAppended();

private:
    void work();
    void push();

    const QString m_recordFile;
    const QString m_program;
    std::mutex m_mutex;
    std::condition_variable m_poked;
    bool m_pending = false;
    bool m_ending = false;
    std::thread m_thread;
};

} // namespace Kv402
