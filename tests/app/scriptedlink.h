#ifndef VORSEL_TESTS_SCRIPTEDLINK_H
#define VORSEL_TESTS_SCRIPTEDLINK_H

#include <QByteArrayList>

#include <cstring>

#include "link.h"

// A line whose every read the test decides, and which keeps every frame sent.
class ScriptedLink : public Link
{
public:
    explicit ScriptedLink(bool serial) : serial(serial) {}

    QIODevice *device() const override { return nullptr; }
    bool isSerialLine() const override { return serial; }
    QString failureReason() const override { return QStringLiteral("scripted failure"); }

    bool send(const char *data, int size) override
    {
        sent << QByteArray(data, size);
        return true;
    }
    qint64 receive(char *data, qint64 maximum) override
    {
        if (reads.isEmpty()) {
            return 0;
        }
        QByteArray &next = reads.first();
        const qint64 count = qMin<qint64>(next.size(), maximum);
        memcpy(data, next.constData(), size_t(count));
        next.remove(0, int(count));
        if (next.isEmpty()) {
            reads.removeFirst();
        }
        return count;
    }
    void close() override {}
    QByteArray discardPending(int sample) override
    {
        const QByteArray stale = reads.join();
        reads.clear();
        return stale.left(sample);
    }

    QByteArrayList sent;
    QByteArrayList reads; // each one read, or several where it is larger than one takes
    bool serial;
};

// Opens scripted links, or refuses to.
class ScriptedOpener : public LinkOpener
{
public:
    Link *open(QString *reason, bool *refused) override
    {
        *refused = refuse;
        if (refuse) {
            *reason = QStringLiteral("refused");
            return nullptr;
        }
        last = new ScriptedLink(serial);
        ++opened;
        return last;
    }

    ScriptedLink *last = nullptr;
    int opened = 0;
    bool serial = false;
    bool refuse = false;
};

#endif
