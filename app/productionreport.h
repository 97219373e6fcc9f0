#ifndef VORSEL_PRODUCTIONREPORT_H
#define VORSEL_PRODUCTIONREPORT_H

#include <QByteArray>
#include <QString>

#include "outputfile.h"

struct ExchangeRecord;
class QTextStream;

// What a production run tells besides its exchanges: a scan's node lines and, on a terminal, its
// progress; the first difference that verify or compare found; the image a dump read.
class ProductionReport
{
public:
    explicit ProductionReport(QTextStream &output);

    // Opened before anything is sent, so that a path that cannot be written stops the run at
    // once; the file is replaced only once the whole image is there. "-" is standard output.
    // Each tells why it failed, or nothing.
    QString openDump(const QString &name);
    QString writeDump(const QByteArray &image);

    // A scan asks node N; 0 once it is over. Standard error on a terminal only, so that a
    // script's standard error stays clean.
    void probing(int node);
    // The line of a node that answered the scan: its model, or its error end.
    void nodeAnswered(const ExchangeRecord &record);
    void differs(const char *what, int address, quint8 expected, quint8 read);

private:
    QTextStream &output;
    QString dumpName;
    ReplacedFile dumpFile;
    bool terminal;
};

#endif
