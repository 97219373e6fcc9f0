#include "productionreport.h"

#include <QTextStream>

#include <cstdio>
#include <unistd.h>

#include "exchangeengine.h"
#include "tagimage.h"
#include "v640.h"

namespace {

const int highestNode = 17;

} // namespace

ProductionReport::ProductionReport(QTextStream &output)
    : output(output), terminal(isatty(STDERR_FILENO) != 0)
{
}

QString ProductionReport::openDump(const QString &name)
{
    dumpName = name;
    return name == QLatin1String("-") ? QString() : dumpFile.open(name);
}

QString ProductionReport::writeDump(const QByteArray &image)
{
    if (dumpName != QLatin1String("-")) {
        return dumpFile.commit(image);
    }
    output << QString::fromLatin1(image);
    output.flush();
    return output.status() == QTextStream::Ok ? QString()
                                              : QStringLiteral("standard output failed");
}

void ProductionReport::probing(int node)
{
    if (!terminal) {
        return;
    }
    if (node > 0) {
        std::fprintf(stderr, "\r\033[Kscanning node %d of %d", node, highestNode);
    } else {
        std::fputs("\r\033[K", stderr);
    }
    std::fflush(stderr);
}

void ProductionReport::nodeAnswered(const ExchangeRecord &record)
{
    probing(0);
    int length = 0;
    const char *parameter = v640_get_response_parameter(record.response.constData(), &length);
    const int code = v640_get_response_code(record.response.constData());
    output << QStringLiteral("%1: ").arg(v640_get_node(record.command.constData()), 2)
           << (code == 0 ? QString::fromLatin1(parameter, length)
                         : QStringLiteral("NG: %1").arg(code, 2, 16, QLatin1Char('0')))
           << Qt::endl;
}

void ProductionReport::differs(const char *what, int address, quint8 expected, quint8 read)
{
    std::fprintf(stderr, "vorsel: %s mismatch: page %d, byte 0x%02X: expected %02X, read %02X\n",
                 what, address / TagImage::pageSize + 1, address, expected, read);
}
