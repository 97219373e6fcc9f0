#include "productionrun.h"

#include <QCommandLineParser>
#include <QDateTime>

#include "commands.h"
#include "typednumber.h"
#include "v640.h"

namespace {

const quint32 readCode = 0x0100;
const quint32 writeCode = 0x0200;
const quint32 sameWriteCode = 0x0300;
const quint32 byteWriteCode = 0x0400;
const quint32 modelNumberCode = 0x1401;
const int pageDigits = 2 * TagImage::pageSize;
// One read answer carries at most 270 characters and one write at most 264 parameter
// characters: 16 pages either way.
const int pagesPerFrame = 16;
const quint32 allPages = 0x7FFFC;
const int highestNode = 17;
const int waitLimitMaximum = 86400000;
const int retryLimitMaximum = 100;

QByteArray commandFrame(int node, quint32 code, const QByteArray &parameter)
{
    const char *frame =
        v640_build_command_frame(static_cast<unsigned int>(node), code,
                                 parameter.isNull() ? nullptr : parameter.constData());
    return frame != nullptr ? QByteArray(frame) : QByteArray();
}

QByteArray maskText(quint32 mask)
{
    return QByteArray::number(mask, 16).toUpper().rightJustified(8, '0');
}

// The pages of a mask in ascending order.
QList<int> pagesOf(quint32 mask)
{
    QList<int> pages;
    for (int page = 1; page <= TagImage::pageCount; ++page) {
        if ((mask & (1u << (page + 1))) != 0) {
            pages << page;
        }
    }
    return pages;
}

} // namespace

QStringList ProductionRun::configure(const QCommandLineParser &parser, bool serialLink, bool json)
{
    QStringList refusals;
    verify = parser.isSet(QStringLiteral("verify"));
    if (parser.isSet(QStringLiteral("wait"))) {
        const QString value = parser.value(QStringLiteral("wait"));
        waitLimit = typedNumber(value, waitLimitMaximum);
        if (waitLimit < 0) {
            refusals << QStringLiteral("--wait: 0 to %1 milliseconds expected, got '%2'")
                            .arg(waitLimitMaximum)
                            .arg(value);
        }
    }
    if (parser.isSet(QStringLiteral("retries"))) {
        const QString value = parser.value(QStringLiteral("retries"));
        retryLimit = typedNumber(value, retryLimitMaximum);
        if (retryLimit < 0) {
            retryLimit = 0;
            refusals << QStringLiteral("--retries: 0 to %1 expected, got '%2'")
                            .arg(retryLimitMaximum)
                            .arg(value);
        }
    }
    // Every value is checked; as for the other operations the last in table order is the one.
    if (parser.isSet(QStringLiteral("dump"))) {
        operation = Operation::Dump;
        dumpTarget = parser.value(QStringLiteral("dump"));
        if (dumpTarget.isEmpty()) {
            refusals << QStringLiteral("--dump: a file name or - expected");
        } else if (json && dumpTarget == QLatin1String("-")) {
            refusals << QStringLiteral("--dump: standard output carries the JSON lines");
        }
    }
    for (const QString &name : {QStringLiteral("restore"), QStringLiteral("compare")}) {
        if (parser.isSet(name)) {
            operation = name == QLatin1String("restore") ? Operation::Restore : Operation::Compare;
            const QString problem = readImageFile(parser.value(name), &expected);
            if (!problem.isEmpty()) {
                refusals << QStringLiteral("--%1: %2").arg(name, problem);
            }
        }
    }
    if (parser.isSet(QStringLiteral("scan"))) {
        operation = Operation::Scan;
        if (!serialLink) {
            refusals << QStringLiteral("--scan: a serial line expected, the target is a TCP host");
        }
    }
    if (operation != Operation::Dump) {
        dumpTarget.clear();
    }
    return refusals;
}

QByteArray ProductionRun::start(const QByteArray &operationFrame, int node)
{
    oneShot = true;
    switch (operation) {
    case Operation::Frame: {
        steps << Step{operationFrame, Purpose::Shown};
        int length = 0;
        const char *parameter = v640_get_command_parameter(operationFrame.constData(), &length);
        const QByteArray text(parameter, length);
        const quint32 code = quint32(v640_get_command_code(operationFrame.constData()));
        if (verify && (code == writeCode || code == sameWriteCode)) {
            const QList<int> pages = pagesOf(text_to_hex(parameter, 8));
            for (int i = 0; i < pages.size(); ++i) {
                const int offset = code == writeCode ? 8 + i * pageDigits : 8;
                expected.setDigits((pages.at(i) - 1) * TagImage::pageSize,
                                   text.mid(offset, pageDigits));
            }
            planReads(expected.pageMask(), node);
            readsBack = true;
        } else if (verify && code == byteWriteCode) {
            expected.setDigits(int(text_to_hex(parameter, 2)), text.mid(2));
            planReads(expected.pageMask(), node);
            readsBack = true;
        }
        break;
    }
    case Operation::Dump:
    case Operation::Compare:
        planReads(allPages, node);
        break;
    case Operation::Restore: {
        const QByteArray digits = expected.digits();
        const quint32 firstPart = allPages & ~(1u << (TagImage::pageCount + 1));
        steps << Step{commandFrame(node, writeCode,
                                   maskText(firstPart) + digits.left(pagesPerFrame * pageDigits)),
                      Purpose::Hidden};
        steps << Step{
            commandFrame(node, writeCode,
                         maskText(allPages & ~firstPart) + digits.mid(pagesPerFrame * pageDigits)),
            Purpose::Shown};
        if (verify) {
            planReads(allPages, node);
            readsBack = true;
        }
        break;
    }
    case Operation::Scan:
        for (int probed = 1; probed <= highestNode; ++probed) {
            steps << Step{commandFrame(probed, modelNumberCode, QByteArray()), Purpose::Probe};
        }
        emit probing(1);
        break;
    }
    return steps.first().frame;
}

void ProductionRun::planReads(quint32 mask, int node)
{
    const QList<int> pages = pagesOf(mask);
    for (int first = 0; first < pages.size(); first += pagesPerFrame) {
        quint32 part = 0;
        for (int page : pages.mid(first, pagesPerFrame)) {
            part |= 1u << (page + 1);
        }
        steps << Step{commandFrame(node, readCode, maskText(part)), Purpose::Read};
    }
}

ExchangeRequest ProductionRun::request(const QByteArray &frame, qint64 now)
{
    // The time --wait allows counts from an operation's first frame: a one-shot run's, or each
    // interactive line's.
    if (!oneShot || firstFrameAt < 0) {
        firstFrameAt = now;
    }
    ExchangeRequest request;
    request.frame = frame;
    request.retries = retryLimit;
    request.waitUntil = waitLimit >= 0 ? firstFrameAt + waitLimit : -1;
    // Data that the run goes on with must have the answer's form at every level.
    request.formDecides = purpose() == Purpose::Read;
    request.probe = purpose() == Purpose::Probe;
    return request;
}

ProductionRun::Purpose ProductionRun::purpose() const
{
    return current < steps.size() ? steps.at(current).purpose : Purpose::Shown;
}

void ProductionRun::exchangeEnded(const ExchangeRecord &record)
{
    if (current >= steps.size()) {
        return;
    }
    const Step &step = steps.at(current);
    const bool answered =
        record.outcome == ExchangeOutcome::Ok || record.outcome == ExchangeOutcome::UnitError;
    if (step.purpose == Purpose::Probe) {
        // A node that answers, with an error end too, is there.
        anyAnswered |= answered;
        return;
    }
    if (record.outcome != ExchangeOutcome::Ok) {
        stopped = true;
        return;
    }
    if (step.purpose == Purpose::Read) {
        int length = 0;
        const char *data = v640_get_response_parameter(record.response.constData(), &length);
        const QList<int> pages = pagesOf(Commands::requestedPageMask(step.frame));
        for (int i = 0; i < pages.size(); ++i) {
            read.setDigits((pages.at(i) - 1) * TagImage::pageSize,
                           QByteArray(data + i * pageDigits, pageDigits));
        }
    }
}

QByteArray ProductionRun::advance()
{
    if (stopped || current >= steps.size()) {
        // A dump that could not read the whole tag made no image: no success to report.
        if (stopped && operation == Operation::Dump && ending == Result::Done) {
            ending = Result::NotWritten;
        }
        return QByteArray();
    }
    if (++current < steps.size()) {
        if (steps.at(current).purpose == Purpose::Probe) {
            emit probing(current + 1);
        }
        return steps.at(current).frame;
    }
    conclude();
    return QByteArray();
}

void ProductionRun::conclude()
{
    switch (operation) {
    case Operation::Frame:
    case Operation::Restore:
        if (verify && !compares("verify")) {
            ending = Result::Mismatch;
        }
        break;
    case Operation::Compare:
        if (!compares("compare")) {
            ending = Result::Mismatch;
        }
        break;
    case Operation::Dump:
        dumpText = read.text(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        break;
    case Operation::Scan:
        emit probing(0);
        ending = anyAnswered ? Result::Done : Result::NoneAnswered;
        break;
    }
}

bool ProductionRun::compares(const char *what)
{
    const int address = expected.firstDifference(read);
    if (address < 0) {
        return true;
    }
    emit differs(what, address, expected.byte(address), read.byte(address));
    return false;
}
