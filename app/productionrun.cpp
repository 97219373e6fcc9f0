#include "productionrun.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

#include "answercheck.h"
#include "diagnostics.h"
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
// Any image is far smaller; more is not an image.
const qint64 imageFileLimit = 1024 * 1024;

// Why the file holds no image, or nothing when it does.
QString readImage(const QString &name, TagImage *image)
{
    QFile file;
    const bool opened = name == QLatin1String("-")
                            ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                            : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        return QStringLiteral("cannot read '%1': %2").arg(name, file.errorString());
    }
    QByteArray content;
    for (QByteArray piece = file.read(imageFileLimit + 1);
         !piece.isEmpty() && content.size() <= imageFileLimit;
         piece = file.read(imageFileLimit + 1 - content.size())) {
        content += piece;
    }
    if (content.size() > imageFileLimit || !image->parse(content)) {
        return QStringLiteral("'%1' is no image: 17 lines of 16 hexadecimal digits, or 136 bytes, "
                              "expected")
            .arg(name);
    }
    return QString();
}

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

ProductionRun::ProductionRun(QTextStream *output, const Diagnostics *diagnostics, QObject *parent)
    : QObject(parent), output(output), diagnostics(diagnostics)
{
    pause.setSingleShot(true);
    connect(&pause, &QTimer::timeout, this, &ProductionRun::resend);
    connect(&interruptWatcher, &InterruptWatcher::interrupted, this, &ProductionRun::interrupted);
}

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
        dumpName = parser.value(QStringLiteral("dump"));
        if (dumpName.isEmpty()) {
            refusals << QStringLiteral("--dump: a file name or - expected");
        } else if (json && dumpName == QLatin1String("-")) {
            refusals << QStringLiteral("--dump: standard output carries the JSON lines");
        }
    }
    for (const QString &name : {QStringLiteral("restore"), QStringLiteral("compare")}) {
        if (parser.isSet(name)) {
            operation = name == QLatin1String("restore") ? Operation::Restore : Operation::Compare;
            const QString problem = readImage(parser.value(name), &expected);
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
    // Opened now, so that a path that cannot be written stops the run before anything is sent;
    // the file is replaced only once the whole image is there.
    if (operation == Operation::Dump && dumpName != QLatin1String("-") && !dumpName.isEmpty()) {
        dumpFile.setFileName(dumpName);
        if (!dumpFile.open(QIODevice::WriteOnly)) {
            refusals << QStringLiteral("--dump: cannot create '%1': %2")
                            .arg(dumpName, dumpFile.errorString());
        }
    }
    // Only now: reading an image from a terminal must still be interruptible as usual.
    if (waitLimit >= 0) {
        interruptWatcher.watch();
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
        } else if (verify && code == byteWriteCode) {
            expected.setDigits(int(text_to_hex(parameter, 2)), text.mid(2));
            planReads(expected.pageMask(), node);
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
        }
        break;
    }
    case Operation::Scan:
        progress = isatty(STDERR_FILENO) != 0;
        for (int probed = 1; probed <= highestNode; ++probed) {
            steps << Step{commandFrame(probed, modelNumberCode, QByteArray()), Purpose::Probe};
        }
        showProgress(1);
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

void ProductionRun::frameSent()
{
    if (!resending) {
        attemptCount = 0;
        retriesUsed = 0;
        // The time --wait allows counts from an operation's first frame: a one-shot run's, or
        // each interactive line's.
        if (!oneShot || !clock.isValid()) {
            clock.start();
        }
    }
    resending = false;
    ++attemptCount;
}

bool ProductionRun::repeats(const QByteArray &command, const QByteArray &response)
{
    // Bytes that are no frame, or a frame spoilt on the line or from another node, are not the
    // unit's answer. An intact answer, error end included, is never sent again for a failure.
    const AnswerCheck::Verdict verdict = AnswerCheck::judge(command, response, false);
    if (verdict != AnswerCheck::Verdict::Valid) {
        return retries(QStringLiteral("not a valid answer: %1")
                           .arg(QLatin1String(AnswerCheck::reason(verdict))));
    }
    if (waitLimit < 0 || v640_get_response_code(response.constData()) == 0 ||
        clock.elapsed() + waitInterval >= waitLimit) {
        return false;
    }
    repeatAfter(waitInterval);
    return true;
}

bool ProductionRun::retries(const QString &reason)
{
    if (retriesUsed >= retryLimit) {
        return false;
    }
    ++retriesUsed;
    diagnostics->say(QStringLiteral("%1; sending again (retry %2 of %3)")
                         .arg(reason)
                         .arg(retriesUsed)
                         .arg(retryLimit));
    repeatAfter(0);
    return true;
}

void ProductionRun::repeatAfter(int milliseconds)
{
    resending = true;
    pause.start(milliseconds);
}

bool ProductionRun::usesData() const
{
    return current < steps.size() && steps.at(current).purpose == Purpose::Read;
}

bool ProductionRun::replacesReport(ExchangeOutcome outcome, const QByteArray &response)
{
    if (current >= steps.size()) {
        return false;
    }
    switch (steps.at(current).purpose) {
    case Purpose::Shown:
        return false;
    case Purpose::Hidden:
    case Purpose::Read:
        return outcome == ExchangeOutcome::Ok;
    case Purpose::Probe:
        break;
    }
    // A node that answers, with an error end too, is there.
    if (outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError) {
        int length = 0;
        const char *parameter = v640_get_response_parameter(response.constData(), &length);
        const int code = v640_get_response_code(response.constData());
        showProgress(0);
        *output << QStringLiteral("%1: ").arg(current + 1, 2)
                << (code == 0 ? QString::fromLatin1(parameter, length)
                              : QStringLiteral("NG: %1").arg(code, 2, 16, QLatin1Char('0')))
                << Qt::endl;
    }
    return true;
}

void ProductionRun::exchangeEnded(ExchangeOutcome outcome, const QByteArray &response)
{
    if (current >= steps.size()) {
        return;
    }
    const Step &step = steps.at(current);
    if (step.purpose == Purpose::Probe) {
        anyAnswered |= outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError;
        return;
    }
    if (outcome != ExchangeOutcome::Ok) {
        stopped = true;
        return;
    }
    if (step.purpose == Purpose::Read) {
        int length = 0;
        const char *data = v640_get_response_parameter(response.constData(), &length);
        const QList<int> pages = pagesOf(AnswerCheck::requestedPageMask(step.frame));
        for (int i = 0; i < pages.size(); ++i) {
            read.setDigits((pages.at(i) - 1) * TagImage::pageSize,
                           QByteArray(data + i * pageDigits, pageDigits));
        }
    }
}

bool ProductionRun::passesOverSilence() const
{
    return current < steps.size() && steps.at(current).purpose == Purpose::Probe;
}

QByteArray ProductionRun::advance()
{
    if (stopped || current >= steps.size()) {
        // A dump that could not read the whole tag made no image: no success to report.
        if (stopped && operation == Operation::Dump && ending == Result::Done) {
            diagnostics->say(QStringLiteral("no image written: the tag was not read whole"));
            ending = Result::NotWritten;
        }
        return QByteArray();
    }
    if (++current < steps.size()) {
        if (steps.at(current).purpose == Purpose::Probe) {
            showProgress(current + 1);
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
        if (verify) {
            reportDifference("verify");
        }
        break;
    case Operation::Compare:
        reportDifference("compare");
        break;
    case Operation::Dump: {
        const QByteArray image = read.text(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        bool written = false;
        if (dumpName == QLatin1String("-")) {
            *output << QString::fromLatin1(image);
            output->flush();
            written = output->status() == QTextStream::Ok;
        } else {
            written = dumpFile.write(image) == image.size() && dumpFile.commit();
        }
        if (!written) {
            diagnostics->say(QStringLiteral("cannot write the image to '%1'").arg(dumpName));
            ending = Result::NotWritten;
        }
        break;
    }
    case Operation::Scan:
        showProgress(0);
        ending = anyAnswered ? Result::Done : Result::NoneAnswered;
        break;
    }
}

void ProductionRun::reportDifference(const char *what)
{
    const int address = expected.firstDifference(read);
    if (address < 0) {
        return;
    }
    ending = Result::Mismatch;
    std::fprintf(stderr, "vorsel: %s mismatch: page %d, byte 0x%02X: expected %02X, read %02X\n",
                 what, address / TagImage::pageSize + 1, address, expected.byte(address),
                 read.byte(address));
}

void ProductionRun::showProgress(int node)
{
    // On a terminal only: a script's standard error stays clean. Node 0 clears the line.
    if (!progress) {
        return;
    }
    if (node > 0) {
        std::fprintf(stderr, "\r\033[Kscanning node %d of %d", node, highestNode);
    } else {
        std::fputs("\r\033[K", stderr);
    }
    std::fflush(stderr);
}
